// The block coding of TNcwWriter: each channel of each block of 512 frames is stored as the
// differences of its samples at the smallest width that holds them all, or, when that width
// would be the full container, as the samples themselves.
#include <algorithm>
#include <bit>
#include <climits>
#include <cstring>
#include <type_traits>

#include "bits/BitProcess3.h"
#include "bits/LittleEndian.h"
#include "bits/SampleContainers.h"
#include "ncw/NcwWriter.h"

namespace tarvix {

namespace {

// The smallest n, 2 to 32, with -2^(n-1) <= v <= 2^(n-1) - 1, for every v whose magnitude
// went into `magnitudes` (see MakeDeltas).
int BitsNeeded(uint32_t magnitudes) {
  return std::max(2, static_cast<int>(std::bit_width(magnitudes)) + 1);
}

// The signed machine type that holds a container's value: the narrowest one, so that vector
// registers take as many samples as they can. 24-bit values live in 32 bits.
template <class C>
using TWork = std::conditional_t<C::kBytes == 1, int8_t,
                                 std::conditional_t<C::kBytes == 2, int16_t, int32_t>>;

// One channel of one block, taken from the interleaved frames (`first` is the channel's sample
// in the block's first frame); frames past `available` are zeros. `Channels` is the frame's
// channel count when known at compile time, else 0.
template <class C, size_t Channels>
void GatherChannel(const uint8_t* first, size_t channels, size_t available, TWork<C>* samples) {
  const size_t stride = (Channels != 0 ? Channels : channels) * C::kBytes;
  for (size_t j = 0; j < available; ++j) {
    samples[j] = static_cast<TWork<C>>(C::LoadSigned(first + j * stride));
  }
  for (size_t j = available; j < kFramesPerBlock; ++j) samples[j] = 0;
}

// d[i] = s[i + 1] - s[i] wrapped to the container, as a signed number, for i < 511; d[511] = 0.
// Returns the OR of the magnitudes (v for v >= 0, ~v for v < 0): its bit length decides the
// width exactly as the smallest and largest difference would.
template <class C>
uint32_t MakeDeltas(const TWork<C>* __restrict s, TWork<C>* __restrict d) {
  using TWide = std::make_unsigned_t<TWork<C>>;
  constexpr int kSignShift = 8 * static_cast<int>(sizeof(TWork<C>)) - 1;
  TWide magnitudes = 0;
  for (int i = 0; i < kFramesPerBlock - 1; ++i) {
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
  d[kFramesPerBlock - 1] = 0;
  return magnitudes;
}

// Merges neighbouring fields of `width` bits into `count` / 2 fields of twice the width (the
// first field in the low bits, as in the stream). Separate arrays, so the compiler runs it on
// vector registers.
template <class T>
void MergeFieldPairs(const T* __restrict fields, int count, int width, uint32_t mask,
                     uint32_t* __restrict merged) {
  for (int i = 0; i < count / 2; ++i) {
    uint32_t low = static_cast<uint32_t>(fields[2 * i]) & mask;
    uint32_t high = static_cast<uint32_t>(fields[2 * i + 1]) & mask;
    merged[i] = low | high << width;
  }
}

// Packs 512 differences at `width` bits. Neighbouring fields are merged first, two or four into
// one field of twice or four times the width: the stream is the same, and the packer has only
// a half or a quarter of the fields left.
template <class T>
void PackDeltas(const T* deltas, int width, uint8_t* payload) {
  alignas(64) uint32_t pairs[kFramesPerBlock / 2];
  alignas(64) uint32_t quads[kFramesPerBlock / 4];
  const uint32_t mask = (uint32_t{1} << width) - 1;  // width < 32 for every delta block
  if (4 * width <= 32) {
    MergeFieldPairs(deltas, kFramesPerBlock, width, mask, pairs);
    MergeFieldPairs(pairs, kFramesPerBlock / 2, 2 * width, 0xFFFFFFFFu, quads);
    TMyBits::PackBits<TSample32>(kFramesPerBlock / 4, 4 * width,
                                 reinterpret_cast<const uint8_t*>(quads), payload);
  } else if (2 * width <= 32) {
    MergeFieldPairs(deltas, kFramesPerBlock, width, mask, pairs);
    TMyBits::PackBits<TSample32>(kFramesPerBlock / 2, 2 * width,
                                 reinterpret_cast<const uint8_t*>(pairs), payload);
  } else if constexpr (sizeof(T) == 4) {
    // Wider than 16 bits only occurs in 32-bit work values; the packer takes their low bits.
    TMyBits::PackBits<TSample32>(kFramesPerBlock, width, reinterpret_cast<const uint8_t*>(deltas),
                                 payload);
  }
}

// Writes one channel block (header and payload) at `block` and returns its size.
template <class C>
uint32_t EncodeChannelBlock(const TWork<C>* samples, TWork<C>* deltas, uint8_t* block) {
  int width = BitsNeeded(MakeDeltas<C>(samples, deltas));
  TChannelBlockHeader header;
  header.BaseValue = samples[0];
  const bool plain = width >= C::kBits;  // differences needing the whole container gain nothing
  if (plain) width = C::kBits;
  header.Bits = static_cast<int16_t>(plain ? -width : width);
  std::memcpy(block, header.Image().data(), kChannelBlockHeaderBytes);
  uint8_t* payload = block + kChannelBlockHeaderBytes;
  if (plain) {
    for (int j = 0; j < kFramesPerBlock; ++j) {
      C::Store(payload + j * C::kBytes, static_cast<uint32_t>(samples[j]));
    }
  } else {
    PackDeltas(deltas, width, payload);
  }
  return kChannelBlockHeaderBytes + PayloadBytes(width);
}

// One channel of one block gathered from the frames, encoded at `out`.
template <class C>
uint32_t EncodeChannel(const uint8_t* first, size_t channels, size_t available, uint8_t* out) {
  alignas(64) TWork<C> gathered[kFramesPerBlock];
  alignas(64) TWork<C> deltas[kFramesPerBlock];
  if (channels == 1) {
    GatherChannel<C, 1>(first, channels, available, gathered);
  } else if (channels == 2) {
    GatherChannel<C, 2>(first, channels, available, gathered);
  } else {
    GatherChannel<C, 0>(first, channels, available, gathered);
  }
  return EncodeChannelBlock<C>(gathered, deltas, out);
}

// Blocks of 512 frames, channel by channel; frames past `frames` enter the last block as zeros.
template <class C>
size_t EncodeRun(const uint8_t* pcm, size_t frames, size_t channels, uint8_t* out,
                 uint32_t* blockBytes) {
  const size_t frameBytes = channels * C::kBytes;
  size_t written = 0;
  for (size_t firstFrame = 0, k = 0; firstFrame < frames; firstFrame += kFramesPerBlock, ++k) {
    const size_t available = std::min<size_t>(kFramesPerBlock, frames - firstFrame);
    const uint8_t* block = pcm + firstFrame * frameBytes;
    uint32_t bytes = 0;
    for (size_t ch = 0; ch < channels; ++ch) {
      bytes += EncodeChannel<C>(block + ch * C::kBytes, channels, available, out + written + bytes);
    }
    blockBytes[k] = bytes;
    written += bytes;
  }
  return written;
}

}  // namespace

size_t TNcwWriter::EncodeBlocks(const uint8_t* pcm, size_t frames, uint8_t* out,
                                uint32_t* blockBytes) const {
  size_t written = 0;
  ForContainerWidth(fHeader.BitsPerSample, [&](auto container) {
    using C = decltype(container);
    written = EncodeRun<C>(pcm, frames, fHeader.Channels, out, blockBytes);
  });
  return written;
}

uint64_t TNcwWriter::MaxEncodedBytes(uint64_t frames) const {
  const uint64_t blocks = (frames + kFramesPerBlock - 1) / kFramesPerBlock;
  return blocks * MaxBlockBytes(fHeader.Channels, fHeader.BitsPerSample);
}

}  // namespace tarvix
