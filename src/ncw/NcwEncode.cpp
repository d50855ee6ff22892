// The block coding of TNcwWriter: each channel of each block of 512 frames is stored as the
// differences of its samples at the smallest width that holds them all, or, when that width
// would be the full container, as the samples themselves.
#include <algorithm>
#include <bit>
#include <climits>
#include <cstring>
#include <type_traits>

#include "bits/BlockKernels.h"
#include "bits/LittleEndian.h"
#include "bits/SampleContainers.h"
#include "ncw/NcwChecksums.h"
#include "ncw/NcwWriter.h"

namespace tarvix {

namespace {

// The smallest n, 2 to 32, with -2^(n-1) <= v <= 2^(n-1) - 1, for every v whose magnitude
// went into `magnitudes` (see MakeDeltas).
int BitsNeeded(uint32_t magnitudes) {
  return std::max(2, static_cast<int>(std::bit_width(magnitudes)) + 1);
}

static_assert(kBlockValues == kFramesPerBlock, "the kernels code whole blocks");

// One channel of one block, taken from the interleaved frames (`first` is the channel's sample
// in the block's first frame); frames past `available` are zeros. `Channels` is the frame's
// channel count when known at compile time, else 0.
template <class C, size_t Channels>
void GatherChannel(const uint8_t* first, size_t channels, size_t available, TWork<C>* samples) {
  BlockKernels<C>().gatherChannel(first, Channels != 0 ? Channels : channels, available, samples);
}

// d[i] = s[i + 1] - s[i] wrapped to the container, as a signed number, for i < 511; d[511] = 0.
// Returns the OR of the magnitudes (v for v >= 0, ~v for v < 0): its bit length decides the
// width exactly as the smallest and largest difference would.
template <class C>
uint32_t MakeDeltas(const TWork<C>* s, TWork<C>* d) {
  return BlockKernels<C>().makeDeltas(s, d);
}

// Packs 512 differences at `width` bits (below the container's). Differences of 24-bit samples
// live in 32 bits like those of 32-bit ones and pack alike.
template <class T>
void PackDeltas(const T* deltas, int width, uint8_t* payload) {
  BlockKernels<TContainer<sizeof(T)>>().packFields(deltas, width, payload);
}

// Writes one channel block (header and payload) at `block` and returns its size.
template <class C>
uint32_t EncodeChannelBlock(const TWork<C>* samples, TWork<C>* deltas, uint8_t* block,
                            bool checksums) {
  int width = BitsNeeded(MakeDeltas<C>(samples, deltas));
  TChannelBlockHeader header;
  header.BaseValue = samples[0];
  const bool plain = width >= C::kBits;  // differences needing the whole container gain nothing
  if (plain) width = C::kBits;
  header.Bits = static_cast<int16_t>(plain ? -width : width);
  std::memcpy(block, header.Image().data(), kChannelBlockHeaderBytes);
  uint8_t* payload = block + kChannelBlockHeaderBytes;
  if (plain) {
    BlockKernels<C>().packFields(samples, C::kBits, payload);  // the samples as they are
  } else {
    PackDeltas(deltas, width, payload);
  }
  // -crc: taken while the block is in the cache.
  if (checksums) {
    StoreLE(block + kChannelBlockChecksumAt, ChannelBlockCrc(block, PayloadBytes(width)));
  }
  return kChannelBlockHeaderBytes + PayloadBytes(width);
}

// One channel of one block gathered from the frames, encoded at `out`.
template <class C>
uint32_t EncodeChannel(const uint8_t* first, size_t channels, size_t available, uint8_t* out,
                       bool checksums) {
  alignas(64) TWork<C> gathered[kFramesPerBlock];
  alignas(64) TWork<C> deltas[kFramesPerBlock];
  GatherChannel<C, 0>(first, channels, available, gathered);  // the kernel picks its way by count
  return EncodeChannelBlock<C>(gathered, deltas, out, checksums);
}

// Blocks of 512 frames, channel by channel; frames past `frames` enter the last block as zeros.
template <class C>
size_t EncodeRun(const uint8_t* pcm, size_t frames, size_t channels, uint8_t* out,
                 uint32_t* blockBytes, bool checksums) {
  const size_t frameBytes = channels * C::kBytes;
  size_t written = 0;
  for (size_t firstFrame = 0, k = 0; firstFrame < frames; firstFrame += kFramesPerBlock, ++k) {
    const size_t available = std::min<size_t>(kFramesPerBlock, frames - firstFrame);
    const uint8_t* block = pcm + firstFrame * frameBytes;
    uint32_t bytes = 0;
    for (size_t ch = 0; ch < channels; ++ch) {
      bytes += EncodeChannel<C>(block + ch * C::kBytes, channels, available, out + written + bytes,
                                checksums);
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
    written = EncodeRun<C>(pcm, frames, fHeader.Channels, out, blockBytes, fChecksums);
  });
  return written;
}

uint64_t TNcwWriter::MaxEncodedBytes(uint64_t frames) const {
  const uint64_t blocks = (frames + kFramesPerBlock - 1) / kFramesPerBlock;
  return blocks * MaxBlockBytes(fHeader.Channels, fHeader.BitsPerSample);
}

}  // namespace tarvix
