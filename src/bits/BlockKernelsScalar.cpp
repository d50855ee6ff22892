// The scalar block kernels: the reference the vector ones are held to, and the ones that run
// where no vector unit serves.
#include <cstring>

#include "bits/BitPacking.h"
#include "bits/BlockKernels.h"

namespace tarvix {

namespace {

template <class C>
void GatherChannel(const uint8_t* first, size_t channels, size_t available, TWork<C>* samples) {
  const size_t stride = channels * C::kBytes;
  for (size_t j = 0; j < available; ++j) {
    samples[j] = static_cast<TWork<C>>(C::LoadSigned(first + j * stride));
  }
  for (size_t j = available; j < kBlockValues; ++j) samples[j] = 0;
}

template <class C>
uint32_t MakeDeltas(const TWork<C>* __restrict s, TWork<C>* __restrict d) {
  using TWide = std::make_unsigned_t<TWork<C>>;
  constexpr int kSignShift = 8 * static_cast<int>(sizeof(TWork<C>)) - 1;
  TWide magnitudes = 0;
  for (int i = 0; i < kBlockValues - 1; ++i) {
    // Unsigned arithmetic wraps; the container's sign bit then makes it signed again (for 8
    // and 16 bits the work type is the container, so the narrowing does it).
    auto wrapped = static_cast<TWide>(static_cast<TWide>(s[i + 1]) - static_cast<TWide>(s[i]));
    TWork<C> diff;
    if constexpr (C::kBytes == 3) {
      diff = C::SignExtend(wrapped);
    } else {
      diff = static_cast<TWork<C>>(wrapped);
    }
    d[i] = diff;
    magnitudes |= static_cast<TWide>(diff ^ (diff >> kSignShift));
  }
  d[kBlockValues - 1] = 0;
  return magnitudes;
}

// Merges neighbouring fields of `width` bits into `count` / 2 fields of twice the width (the
// first field in the low bits, as in the stream).
template <class T>
void MergeFieldPairs(const T* __restrict fields, int count, int width, uint32_t mask,
                     uint32_t* __restrict merged) {
  for (int i = 0; i < count / 2; ++i) {
    uint32_t low = static_cast<uint32_t>(fields[2 * i]) & mask;
    uint32_t high = static_cast<uint32_t>(fields[2 * i + 1]) & mask;
    merged[i] = low | high << width;
  }
}

// Neighbouring fields are merged first, two or four into one field of twice or four times the
// width: the stream is the same, and the packer has only a half or a quarter of the fields left.
template <class C>
void PackFields(const TWork<C>* values, int width, uint8_t* payload) {
  using W = TWork<C>;
  alignas(64) uint32_t pairs[kBlockValues / 2];
  alignas(64) uint32_t quads[kBlockValues / 4];
  if (width == C::kBits && C::kBytes == sizeof(W)) {  // the containers as they are
    std::memcpy(payload, values, kBlockValues * sizeof(W));
  } else if (4 * width <= 32) {
    const uint32_t mask = (uint32_t{1} << width) - 1;
    MergeFieldPairs(values, kBlockValues, width, mask, pairs);
    MergeFieldPairs(pairs, kBlockValues / 2, 2 * width, 0xFFFFFFFFu, quads);
    TBitPacking::PackBits<TSample32>(kBlockValues / 4, 4 * width,
                                     reinterpret_cast<const uint8_t*>(quads), payload);
  } else if (2 * width <= 32) {
    const uint32_t mask = (uint32_t{1} << width) - 1;
    MergeFieldPairs(values, kBlockValues, width, mask, pairs);
    TBitPacking::PackBits<TSample32>(kBlockValues / 2, 2 * width,
                                     reinterpret_cast<const uint8_t*>(pairs), payload);
  } else {
    // Wider than 16 bits only occurs in 32-bit work values; the packer takes their low bits.
    TBitPacking::PackBits<TContainer<sizeof(W)>>(kBlockValues, width,
                                                 reinterpret_cast<const uint8_t*>(values), payload);
  }
}

template <class C>
void UnpackDeltas(const uint8_t* payload, int width, int32_t base, uint8_t* samples) {
  TBitPacking::UnpackBits<C>(kBlockValues, width, payload, base, samples, true);
}

template <class C>
void Interleave(const uint8_t* area, size_t channels, size_t frames, uint8_t* out) {
  constexpr size_t kChannelStride = kBlockValues * C::kBytes;
  for (size_t j = 0; j < frames; ++j) {
    for (size_t ch = 0; ch < channels; ++ch) {
      std::memcpy(out, area + ch * kChannelStride + j * C::kBytes, C::kBytes);
      out += C::kBytes;
    }
  }
}

// A sum/difference pair: channel 0 = a + b, channel 1 = a - b, wrapping at the container.
template <class C>
void CombineSumDifference(const uint8_t* area, size_t frames, uint8_t* out) {
  const uint8_t* first = area;
  const uint8_t* second = area + kBlockValues * C::kBytes;
  for (size_t j = 0; j < frames; ++j) {
    const uint32_t a = C::Load(first + j * C::kBytes);
    const uint32_t b = C::Load(second + j * C::kBytes);
    C::Store(out, a + b);
    C::Store(out + C::kBytes, a - b);
    out += 2 * C::kBytes;
  }
}

// The definition: every channel into the area, then the frames out of it. A whole mono block
// is its frames and goes straight there.
template <class C>
void DecodeBlock(const TChannelPayload* channels, size_t channelCount, bool sumDifference,
                 size_t frames, uint8_t* area, uint8_t* out) {
  constexpr size_t kChannelStride = kBlockValues * C::kBytes;
  const bool direct = channelCount == 1 && frames == kBlockValues;
  if (direct) area = out;
  for (size_t ch = 0; ch < channelCount; ++ch) {
    const TChannelPayload& channel = channels[ch];
    uint8_t* samples = area + ch * kChannelStride;
    if (channel.delta) {
      UnpackDeltas<C>(channel.payload, channel.width, channel.base, samples);
    } else {
      std::memcpy(samples, channel.payload, kChannelStride);
    }
  }
  if (direct) return;
  if (sumDifference) {
    CombineSumDifference<C>(area, frames, out);
  } else {
    Interleave<C>(area, channelCount, frames, out);
  }
}

template <class C>
constexpr TBlockKernels<C> kScalar{&GatherChannel<C>, &MakeDeltas<C>, &PackFields<C>,
                                   &UnpackDeltas<C>,  &Interleave<C>, &DecodeBlock<C>};

}  // namespace

template <class C>
const TBlockKernels<C>& ScalarBlockKernels() {
  return kScalar<C>;
}

template const TBlockKernels<TSample8>& ScalarBlockKernels<TSample8>();
template const TBlockKernels<TSample16>& ScalarBlockKernels<TSample16>();
template const TBlockKernels<TSample24>& ScalarBlockKernels<TSample24>();
template const TBlockKernels<TSample32>& ScalarBlockKernels<TSample32>();

}  // namespace tarvix
