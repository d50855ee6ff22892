// The writing side of TNCWParser: each channel of each block of 512 frames is stored as the
// differences of its samples at the smallest width that holds them all, or, when that width
// would be the full container, as the samples themselves.
#include <algorithm>
#include <bit>
#include <climits>
#include <cstring>
#include <type_traits>

#include "bits/BitProcess3.h"
#include "ncw/NCWParser3.h"
#include "platform/Errors.h"

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

// Appends one channel block (header and payload) and returns its size.
template <class C>
uint32_t EncodeChannelBlock(const TWork<C>* samples, TWork<C>* deltas, TMemoryStream& out) {
  int width = BitsNeeded(MakeDeltas<C>(samples, deltas));
  TChannelBlockHeader header;
  header.BaseValue = samples[0];
  const bool plain = width >= C::kBits;  // differences needing the whole container gain nothing
  if (plain) width = C::kBits;
  header.Bits = static_cast<int16_t>(plain ? -width : width);
  const uint32_t size = kChannelBlockHeaderBytes + PayloadBytes(width);
  uint8_t* block = out.Extend(size);
  std::memcpy(block, header.Image().data(), kChannelBlockHeaderBytes);
  uint8_t* payload = block + kChannelBlockHeaderBytes;
  if (plain) {
    for (int j = 0; j < kFramesPerBlock; ++j) {
      C::Store(payload + j * C::kBytes, static_cast<uint32_t>(samples[j]));
    }
  } else {
    PackDeltas(deltas, width, payload);
  }
  return size;
}

}  // namespace

template <class C>
void TNCWParser::EncodeAs(const TStreamDescription& stream) {
  Header = TNcwHeader{};
  Header.Signature = kNcwSignature;
  Header.Channels = stream.nChannels;
  Header.BitsPerSample = stream.wBitsPerSample;
  Header.SampleRate = stream.nSamplesPerSec;
  Header.NumSamples = stream.fFrameCount;
  Header.BlockTableOffset = kNcwHeaderBytes;
  const uint64_t entries = BlockTableEntries(stream.fFrameCount);
  const uint64_t dataOffset = kNcwHeaderBytes + 4 * entries;
  Header.DataOffset = static_cast<uint32_t>(dataOffset);

  const size_t channels = stream.nChannels;
  const size_t blocks = entries - 1;
  const TSampleArray<C>& samples = SamplesOf<C>();
  EncodedData = std::make_unique<TMemoryStream>();
  // Room for every block stored plain, so the stream never grows while blocks are appended.
  uint64_t largest = blocks * channels * (kChannelBlockHeaderBytes + PayloadBytes(C::kBits));
  EncodedData->TryReserve(std::min<uint64_t>(largest, fMaxFileBytes));
  BlockTable.assign(entries, 0);

  alignas(64) TWork<C> gathered[kFramesPerBlock];
  alignas(64) TWork<C> deltas[kFramesPerBlock];
  uint64_t offset = 0;
  for (size_t k = 0; k < blocks; ++k) {
    BlockTable[k] = static_cast<int32_t>(offset);
    const size_t firstFrame = k * kFramesPerBlock;
    for (size_t ch = 0; ch < channels; ++ch) {
      // Samples of this channel that the array holds from this block on; the rest are zeros.
      const size_t first = firstFrame * channels + ch;
      const size_t held =
          samples.Length() > first ? (samples.Length() - first + channels - 1) / channels : 0;
      const size_t available = std::min<size_t>(kFramesPerBlock, held);
      const uint8_t* start = samples.Bytes() + first * C::kBytes;
      if (channels == 1) {
        GatherChannel<C, 1>(start, channels, available, gathered);
      } else if (channels == 2) {
        GatherChannel<C, 2>(start, channels, available, gathered);
      } else {
        GatherChannel<C, 0>(start, channels, available, gathered);
      }
      offset += EncodeChannelBlock<C>(gathered, deltas, *EncodedData);
    }
    // Positions are signed 32-bit numbers: a larger file would be unreadable.
    if (dataOffset + offset > fMaxFileBytes) {
      throw TError("The NCW file would exceed the format's limit of 2 GiB");
    }
  }
  BlockTable[blocks] = static_cast<int32_t>(offset);
  Header.DataSize = static_cast<uint32_t>(offset);
}

void TNCWParser::Encode(const TStreamDescription& stream) {
  switch (stream.wBitsPerSample) {
    case 8:
      return EncodeAs<TSample8>(stream);
    case 16:
      return EncodeAs<TSample16>(stream);
    case 24:
      return EncodeAs<TSample24>(stream);
    case 32:
      return EncodeAs<TSample32>(stream);
    default:
      return;  // no sample array of that width: nothing to encode
  }
}

}  // namespace tarvix
