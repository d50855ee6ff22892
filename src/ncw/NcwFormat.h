// The NCW file layout: a 120-byte file header, a block table of 32-bit positions, then blocks
// of 512 frames, each made of one channel block per channel (a 16-byte header and a payload of
// 512 packed fields). All integers little-endian.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace tarvix {

constexpr int kFramesPerBlock = 512;
constexpr uint32_t kNcwHeaderBytes = 120;
constexpr uint32_t kChannelBlockHeaderBytes = 16;
// Positions are signed 32-bit values, so a file may not exceed this.
constexpr uint64_t kMaxNcwFileBytes = 0x7FFFFFFF;

// The signature every written file carries; a reader also accepts byte 4 as 0x30.
constexpr std::array<uint8_t, 8> kNcwSignature = {0x01, 0xA8, 0x9E, 0xD6, 0x31, 0x01, 0x00, 0x00};
constexpr std::array<uint8_t, 8> kNcwSignatureOld = {0x01, 0xA8, 0x9E, 0xD6,
                                                     0x30, 0x01, 0x00, 0x00};
constexpr std::array<uint8_t, 4> kBlockSignature = {0x16, 0x0C, 0x9A, 0x3E};

// Payload bytes of a channel block whose fields are `width` bits wide: 512 * width / 8.
constexpr uint32_t PayloadBytes(int width) {
  return 64u * static_cast<uint32_t>(width);
}

struct TNcwHeader {
  std::array<uint8_t, 8> Signature{};
  uint16_t Channels = 0;
  uint16_t BitsPerSample = 0;  // container width: 8, 16, 24 or 32
  uint32_t SampleRate = 0;
  uint32_t NumSamples = 0;        // frames
  uint32_t BlockTableOffset = 0;  // file position of the block table
  uint32_t DataOffset = 0;        // file position of block 0; table entries count from here
  uint32_t DataSize = 0;          // bytes of all blocks; not used for reading
  std::array<uint8_t, 88> Reserved{};

  std::array<uint8_t, kNcwHeaderBytes> Image() const;
  static TNcwHeader FromImage(const uint8_t* bytes);  // reads kNcwHeaderBytes bytes
  bool HasValidSignature() const;
};

struct TChannelBlockHeader {
  std::array<uint8_t, 4> BlockSignature = kBlockSignature;  // not checked on reading
  int32_t BaseValue = 0;     // first sample, sign-extended from the container width
  int16_t Bits = 0;          // > 0: delta block of that width; < 0: plain block; 0: plain
  uint16_t ChannelMode = 0;  // 1 in the last channel block: a sum/difference pair
  uint32_t Reserved = 0;

  std::array<uint8_t, kChannelBlockHeaderBytes> Image() const;
  static TChannelBlockHeader FromImage(const uint8_t* bytes);  // reads 16 bytes
};

// The most bytes one block of `channels` channels can take: every channel block plain.
constexpr uint64_t MaxBlockBytes(uint64_t channels, int bitsPerSample) {
  return channels * (kChannelBlockHeaderBytes + PayloadBytes(bitsPerSample));
}

// Number of block table entries for a number of frames: one per block plus the end position.
constexpr uint64_t BlockTableEntries(uint32_t frames) {
  return uint64_t{frames} / kFramesPerBlock + 1 + (frames % kFramesPerBlock != 0 ? 1 : 0);
}

// PCM bytes per run, the unit files are streamed in: enough that a read or write costs little
// per byte, little enough that a run's input and output stay in the processor's cache while it
// is coded.
constexpr size_t kRunPcmBytes = size_t{1} << 20;

// True for the container widths NCW files hold samples in: 8, 16, 24 and 32 bits.
bool IsNcwSampleWidth(int bitsPerSample);

// Raises the error of an NCW file whose bytes are not as the format has them: the source's
// fault, naming the file.
[[noreturn]] void RefuseNcwBytes(const std::string& fileName, const std::string& message);

// How many blocks of frames of `frameBytes` make about `pcmBytes` of PCM (at least one).
size_t BlocksPerRun(size_t frameBytes, size_t pcmBytes);

}  // namespace tarvix
