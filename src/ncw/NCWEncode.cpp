// The writing side of TNCWParser: each channel of each block of 512 frames is stored as the
// differences of its samples at the smallest width that holds them all, or, when that width
// would be the full container, as the samples themselves.
#include <algorithm>
#include <bit>
#include <climits>
#include <cstring>

#include "bits/BitProcess3.h"
#include "ncw/NCWParser3.h"
#include "platform/Errors.h"

namespace tarvix {

namespace {

struct TRange {
  int32_t min;
  int32_t max;
};

// The smallest n, 2 to 32, with -2^(n-1) <= v <= 2^(n-1) - 1.
int BitsNeeded(int32_t v) {
  // For negative v, ~v is the magnitude that needs the same number of bits (-1 -> 0, -2 -> 1).
  uint32_t magnitude = v < 0 ? ~static_cast<uint32_t>(v) : static_cast<uint32_t>(v);
  return std::max(2, static_cast<int>(std::bit_width(magnitude)) + 1);
}

// d[i] = s[i + 1] - s[i] wrapped to the container, for i < count; d[count] = 0. Returns the
// smallest and largest difference as signed numbers.
template <class C>
TRange MakeDeltas(const uint8_t* s, int count, uint8_t* d) {
  TRange range{INT32_MAX, INT32_MIN};
  for (int i = 0; i < count; ++i) {
    uint32_t diff = C::Load(s + (i + 1) * C::kBytes) - C::Load(s + i * C::kBytes);
    C::Store(d + i * C::kBytes, diff);
    int32_t value = C::SignExtend(diff);
    range.min = std::min(range.min, value);
    range.max = std::max(range.max, value);
  }
  C::Store(d + count * C::kBytes, 0);
  return range;
}

// Gathers one channel of block k; frames past the end of the samples are zeros.
template <class C>
void GatherChannel(const TSampleArray<C>& samples, size_t channels, size_t k, size_t ch,
                   uint8_t* block) {
  const size_t first = k * kFramesPerBlock * channels + ch;
  const uint8_t* source = samples.Bytes();
  for (size_t j = 0; j < kFramesPerBlock; ++j) {
    size_t x = first + j * channels;
    if (x < samples.Length()) {
      std::memcpy(block + j * C::kBytes, source + x * C::kBytes, C::kBytes);
    } else {
      std::memset(block + j * C::kBytes, 0, C::kBytes);
    }
  }
}

// Appends one channel block (header and payload) and returns its size.
template <class C>
uint32_t EncodeChannelBlock(const uint8_t* samples, uint8_t* deltas, TMemoryStream& out) {
  TRange range = MakeDeltas<C>(samples, kFramesPerBlock - 1, deltas);
  int width = Max32(BitsNeeded(range.max), BitsNeeded(range.min));
  TChannelBlockHeader header;
  header.BaseValue = C::LoadSigned(samples);
  const uint8_t* values = deltas;
  if (width < C::kBits) {
    header.Bits = static_cast<int16_t>(width);
  } else {
    // Differences needing the whole container gain nothing: the samples are stored plain.
    header.Bits = static_cast<int16_t>(-C::kBits);
    width = C::kBits;
    values = samples;
  }
  const uint32_t size = kChannelBlockHeaderBytes + PayloadBytes(width);
  uint8_t* block = out.Extend(size);
  std::memcpy(block, header.Image().data(), kChannelBlockHeaderBytes);
  TMyBits::PackBits<C>(kFramesPerBlock, width, values, block + kChannelBlockHeaderBytes);
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

  alignas(16) uint8_t gathered[kFramesPerBlock * C::kBytes];
  alignas(16) uint8_t deltas[kFramesPerBlock * C::kBytes];
  uint64_t offset = 0;
  for (size_t k = 0; k < blocks; ++k) {
    BlockTable[k] = static_cast<int32_t>(offset);
    const bool wholeBlock = (k + 1) * kFramesPerBlock * channels <= samples.Length();
    for (size_t ch = 0; ch < channels; ++ch) {
      const uint8_t* block = gathered;
      if (channels == 1 && wholeBlock) {
        block = samples.Bytes() + k * kFramesPerBlock * C::kBytes;  // already in one piece
      } else {
        GatherChannel<C>(samples, channels, k, ch, gathered);
      }
      offset += EncodeChannelBlock<C>(block, deltas, *EncodedData);
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
