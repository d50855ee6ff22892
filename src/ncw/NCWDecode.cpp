// The reading side of TNCWParser: every block is checked first (positions, widths, channel
// modes, nothing past the end of the file), then the samples are allocated and decoded without
// further checks.
#include <algorithm>
#include <cstring>
#include <new>

#include "bits/BitProcess3.h"
#include "ncw/NCWParser3.h"
#include "platform/Errors.h"
#include "platform/FileMemory.h"

namespace tarvix {

namespace {

// How a channel block's Bits field reads: its field width and whether it holds differences.
struct TChannelBlockKind {
  int width;
  bool delta;
};

TChannelBlockKind KindOf(int16_t bits, int bitsPerSample) {
  if (bits > 0) return {bits, true};
  if (bits < 0) return {-bits, false};
  return {bitsPerSample, false};  // never written, read as a plain block
}

std::string Where(size_t block, size_t channel) {
  return "block " + std::to_string(block) + ", channel " + std::to_string(channel);
}

// Writes the block area's channels frame by frame into the interleaved output.
template <class C>
void Interleave(const uint8_t* area, size_t channels, size_t frames, uint8_t* out) {
  constexpr size_t kChannelStride = kFramesPerBlock * C::kBytes;
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
  const uint8_t* second = area + kFramesPerBlock * C::kBytes;
  for (size_t j = 0; j < frames; ++j) {
    uint32_t a = C::Load(first + j * C::kBytes);
    uint32_t b = C::Load(second + j * C::kBytes);
    C::Store(out, a + b);
    C::Store(out + C::kBytes, a - b);
    out += 2 * C::kBytes;
  }
}

}  // namespace

// Decoding stops once NumSamples frames are complete, so later blocks are never read.
size_t TNCWParser::BlocksToDecode() const {
  if (BlockTable.empty()) return 0;
  size_t needed = (size_t{Header.NumSamples} + kFramesPerBlock - 1) / kFramesPerBlock;
  return std::min(BlockTable.size() - 1, needed);
}

// Checks channel block `ch` of block `k` at `position` and returns the position after it.
template <class C>
uint64_t TNCWParser::CheckChannelBlock(size_t k, size_t ch, uint64_t position,
                                       uint16_t& channelMode) const {
  const int bitsPerSample = C::kBits;
  if (position + kChannelBlockHeaderBytes > fInputSize) {
    Refuse("NCW file is cut short (" + Where(k, ch) + ")");
  }
  TChannelBlockHeader header = TChannelBlockHeader::FromImage(fInput + position);
  if (header.Bits > bitsPerSample || header.Bits < -bitsPerSample) {
    Refuse("Unsupported NCW file: field width " + std::to_string(header.Bits) + " in " +
           Where(k, ch) + " exceeds BitsPerSample " + std::to_string(bitsPerSample));
  }
  if (header.Bits < 0 && -header.Bits != bitsPerSample) {
    Refuse("Unsupported NCW file: plain block of " + std::to_string(-header.Bits) + " bits in " +
           Where(k, ch) + " of a " + std::to_string(bitsPerSample) + "-bit file");
  }
  position += kChannelBlockHeaderBytes + PayloadBytes(KindOf(header.Bits, bitsPerSample).width);
  if (position > fInputSize) Refuse("NCW file is cut short (" + Where(k, ch) + ")");
  channelMode = header.ChannelMode;
  return position;
}

template <class C>
void TNCWParser::CheckBlocks(size_t blocks) const {
  const size_t channels = Header.Channels;
  for (size_t k = 0; k < blocks; ++k) {
    if (BlockTable[k] < 0) {
      Refuse("Damaged NCW file: bad block table entry for block " + std::to_string(k));
    }
    uint64_t position = uint64_t{Header.DataOffset} + static_cast<uint32_t>(BlockTable[k]);
    uint16_t channelMode = 0;
    for (size_t ch = 0; ch < channels; ++ch) {
      position = CheckChannelBlock<C>(k, ch, position, channelMode);
    }
    // Only the last channel block's mode counts, and a pair needs exactly two channels.
    if (channelMode == 1 && channels != 2) {
      Refuse("Unsupported NCW file: sum/difference block " + std::to_string(k) + " in a file of " +
             std::to_string(channels) + " channels");
    }
  }
}

template <class C>
void TNCWParser::DecodeAs() {
  const size_t blocks = BlocksToDecode();
  CheckBlocks<C>(blocks);

  const size_t channels = Header.Channels;
  const size_t frames = Header.NumSamples;
  const size_t frameBytes = channels * C::kBytes;
  TSampleArray<C>& samples = SamplesOf<C>();
  std::vector<uint8_t> area;                 // for blocks that cannot go straight into place
  std::vector<TChannelBlockHeader> headers;  // of the current block
  try {
    samples.SetLength(frames * channels);  // frames no block covers stay zero
    area.resize(channels * kFramesPerBlock * C::kBytes);
    headers.resize(channels);
  } catch (const std::bad_alloc&) {
    Refuse("Not enough memory to decode the NCW file");
  }
  // The blocks will write these frames: fault their pages in at once rather than one by one.
  PrepareForWriting(samples.Bytes(), std::min(frames, blocks * kFramesPerBlock) * frameBytes);

  for (size_t k = 0; k < blocks; ++k) {
    const size_t firstFrame = k * kFramesPerBlock;
    const size_t blockFrames = std::min<size_t>(kFramesPerBlock, frames - firstFrame);
    uint8_t* out = samples.Bytes() + firstFrame * frameBytes;
    const uint8_t* p = fInput + Header.DataOffset + static_cast<uint32_t>(BlockTable[k]);
    // The last channel block's mode decides how the block is read, so all headers come first.
    const uint8_t* payloads = p;
    for (size_t ch = 0; ch < channels; ++ch) {
      headers[ch] = TChannelBlockHeader::FromImage(p);
      p += kChannelBlockHeaderBytes + PayloadBytes(KindOf(headers[ch].Bits, C::kBits).width);
    }
    const uint16_t channelMode = headers[channels - 1].ChannelMode;
    // A whole block of independent channels is unpacked straight into the interleaved frames;
    // a sum/difference pair and the cut last block go through the block area.
    const bool inPlace = blockFrames == kFramesPerBlock && channelMode != 1;
    for (size_t ch = 0; ch < channels; ++ch) {
      const TChannelBlockHeader& header = headers[ch];
      TChannelBlockKind kind = KindOf(header.Bits, C::kBits);
      const uint8_t* payload = payloads + kChannelBlockHeaderBytes;
      payloads = payload + PayloadBytes(kind.width);
      if (inPlace) {
        TMyBits::UnpackBitsStrided<C>(kFramesPerBlock, kind.width, payload, header.BaseValue,
                                      out + ch * C::kBytes, frameBytes, kind.delta);
      } else {
        TMyBits::UnpackBits<C>(kFramesPerBlock, kind.width, payload, header.BaseValue,
                               area.data() + ch * kFramesPerBlock * C::kBytes, kind.delta);
      }
    }
    if (inPlace) continue;
    if (channelMode == 1) {
      CombineSumDifference<C>(area.data(), blockFrames, out);
    } else {
      Interleave<C>(area.data(), channels, blockFrames, out);
    }
  }
}

void TNCWParser::Decode() {
  switch (Header.BitsPerSample) {
    case 8:
      return DecodeAs<TSample8>();
    case 16:
      return DecodeAs<TSample16>();
    case 24:
      return DecodeAs<TSample24>();
    case 32:
      return DecodeAs<TSample32>();
    default:
      return;  // nothing to decode; saving refuses the width
  }
}

}  // namespace tarvix
