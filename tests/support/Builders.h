// Byte-level builders for crafted WAV and NCW files: every field can be set to any value, so
// tests can make what the program writes and what it must refuse.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ncw/NcwFormat.h"

namespace tarvix::test {

using Bytes = std::vector<uint8_t>;

// Little-endian writing into a byte vector.
class TByteWriter {
 public:
  TByteWriter& U8(uint8_t v);
  TByteWriter& U16(uint16_t v);
  TByteWriter& U32(uint32_t v);
  TByteWriter& Tag(const std::string& fourChars);
  TByteWriter& Raw(const Bytes& bytes);
  Bytes& Result() { return fBytes; }

 private:
  Bytes fBytes;
};

struct TWavImage {
  uint16_t formatTag = 1;
  std::string fmtId = "fmt ";
  // The fields up to wBitsPerSample, cbSize from 18 bytes on, the extensible fields from 40 on,
  // then bytes of 0xEE up to the size.
  uint32_t fmtSize = 16;
  uint16_t channels = 2;
  uint32_t sampleRate = 44100;
  uint16_t bitsPerSample = 16;
  std::optional<uint32_t> avgBytesPerSec;  // default: channels * bits * rate / 8
  std::optional<uint16_t> blockAlign;      // default: channels * bits / 8
  uint16_t cbSize = 22;
  std::optional<uint16_t> validBits;  // default: bitsPerSample
  uint32_t channelMask = 3;
  std::array<uint8_t, 16> subFormat = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                       0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
  std::vector<std::pair<std::string, Bytes>> chunksBeforeFmt;   // after "WAVE"
  std::vector<std::pair<std::string, Bytes>> chunksBeforeData;  // after the fmt chunk
  bool padOddChunks = true;  // the RIFF pad byte after odd-sized chunks
  bool hasDataChunk = true;
  Bytes data;
  std::optional<uint32_t> dataSize;  // default: data.size()
  Bytes trailing;                    // bytes after everything, counted in the RIFF size
  int riffSizeAdjust = 0;            // added to the correct RIFF size
  std::optional<uint32_t> riffSize;  // set: this RIFF size instead
  // An RF64 file: "RF64", a ds64 chunk first (of ds64Size bytes) with the true RIFF size and
  // this data size, and 0xFFFFFFFF in both 32-bit sizes unless riffSize or dataSize are set.
  std::optional<uint64_t> rf64DataSize;
  uint32_t ds64Size = 28;

  Bytes Build() const;
};

struct TChannelBlockImage {
  TChannelBlockHeader header;
  Bytes payload;
};

struct TNcwImage {
  TNcwHeader header = DefaultHeader();
  std::vector<std::vector<TChannelBlockImage>> blocks;  // block -> channel blocks
  std::optional<std::vector<int32_t>> table;  // default: from the block sizes, plus the end
  std::optional<uint32_t> dataOffset;         // default: 120 + 4 * table entries

  static TNcwHeader DefaultHeader();  // signature, 1 channel, 16 bits, 44100, 0 frames
  Bytes Build() const;
};

// A channel block of 512 fields: plain samples (Bits = -bits) or differences packed at `width`.
TChannelBlockImage PlainChannelBlock(int bitsPerSample, const std::vector<int64_t>& samples,
                                     uint16_t channelMode = 0);
TChannelBlockImage DeltaChannelBlock(int width, int32_t base, const std::vector<int64_t>& deltas,
                                     uint16_t channelMode = 0);

// Little-endian samples of a container width.
Bytes SampleBytes(int bitsPerSample, const std::vector<int64_t>& samples);
std::vector<int64_t> SignedSamples(int bitsPerSample, const Bytes& bytes);

}  // namespace tarvix::test
