// TWavReader: one RIFF/WAVE file of integer PCM samples. It opens a file,
// validates its header, finds the data chunk and reads the sample bytes. (TWavWriter writes
// them.)
//
// Errors are raised as TError: what the file holds or lacks is the source's fault, and so is a
// file that cannot be opened or read, unless a resource of the system ran short. It reads
// through TByteSource, so it runs on memory as well as on files.
//
// It takes every well-formed integer PCM file of 8, 16, 24 or 32 bits in one to six channels,
// whatever other chunks it holds and wherever they lie, RF64 files whose samples fit 32-bit
// sizes, and files whose writer could not fill in the sizes (streamed to a pipe) or that were
// cut short: the data then runs to the end of the file. It never invents data. What a file
// holds besides its samples is collected in Extras(), for the conversion to name.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/Errors.h"
#include "platform/FileStream.h"

namespace tarvix {

constexpr uint16_t kWaveFormatPcm = 1;
constexpr uint16_t kWaveFormatFloat = 3;
constexpr uint16_t kWaveFormatExtensible = 0xFFFE;

// The most channels a source may have: readers of NCW files decode up to six.
constexpr uint16_t kMaxWavChannels = 6;

// KSDATAFORMAT_SUBTYPE_PCM, {00000001-0000-0010-8000-00AA00389B71}, as stored in a file.
constexpr std::array<uint8_t, 16> kSubtypePcm = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                                 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
// KSDATAFORMAT_SUBTYPE_IEEE_FLOAT, {00000003-0000-0010-8000-00AA00389B71}.
constexpr std::array<uint8_t, 16> kSubtypeFloat = {0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                                   0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

// A WAV header from the RIFF identifier through SubFormat, field for field.
struct TWavHeader {
  std::array<char, 4> RiffId{};
  uint32_t RiffSize = 0;  // file length minus 8
  std::array<char, 4> WaveId{};
  std::array<char, 4> FmtId{};
  uint32_t FmtSize = 0;  // 16 or 40 when written
  uint16_t wFormatTag = 0;
  uint16_t nChannels = 0;
  uint32_t nSamplesPerSec = 0;
  uint32_t nAvgBytesPerSec = 0;
  uint16_t nBlockAlign = 0;          // bytes per frame
  uint16_t wBitsPerSample = 0;       // container width of one sample
  uint16_t cbSize = 0;               // extensible form only, from here on
  uint16_t wValidBitsPerSample = 0;  // significant bits in the container
  uint32_t dwChannelMask = 0;
  std::array<uint8_t, 16> SubFormat{};

  static constexpr size_t kStandardBytes = 36;  // RIFF identifier through wBitsPerSample
  static constexpr size_t kExtendedBytes = 60;  // RIFF identifier through SubFormat

  // The header's bytes as they stand in a file, little-endian.
  std::array<uint8_t, kExtendedBytes> Image() const;
};

using TChunkIdBytes = std::array<char, 4>;

// What a parsed file holds that an NCW file cannot keep.
struct TWavExtras {
  // Chunks other than those that frame the samples (fmt, data, fact, ds64) or only fill space
  // (JUNK, junk, PAD, FLLR): their identifiers in file order, each once, at most kMaxChunkIds.
  std::vector<TChunkIdBytes> chunkIds;
  bool moreChunkIds = false;  // further identifiers were left out
  // Significant bits below the container width (0: all bits count), and that width.
  uint16_t validBits = 0;
  uint16_t containerBits = 0;
  // A speaker mask that says more than the channel count does (0: none); see NoteChannelMask.
  uint32_t channelMask = 0;

  static constexpr size_t kMaxChunkIds = 16;  // keeps a note short, whatever a file holds
};

// What the encoder and the conversion job take from a parsed file.
struct TStreamDescription {
  uint16_t nChannels = 0;
  uint32_t nSamplesPerSec = 0;
  uint16_t wBitsPerSample = 0;  // container width: selects the sample array
  uint32_t fFrameCount = 0;
};

class TWavReader {
 public:
  TWavReader() = default;
  virtual ~TWavReader();
  TWavReader(const TWavReader&) = delete;
  TWavReader& operator=(const TWavReader&) = delete;

  // Opens the file and parses its header. With a `head`, the file's first bytes are read into
  // it at once (see TFileSource).
  void Open(const std::string& fileName, std::span<uint8_t> head = {});
  // The same on any byte source; `name` is used in messages.
  void OpenSource(std::unique_ptr<TByteSource> source, const std::string& name);
  // Releases the input.
  void Close();

  // What the parsed header says.
  const TWavHeader& Header() const { return fHeader; }
  bool Extensible() const { return fExtensible; }
  TStreamDescription StreamDescription() const;
  // Bytes of one frame (nBlockAlign).
  size_t FrameBytes() const { return fHeader.nBlockAlign; }
  // Position of the first sample byte.
  uint64_t DataOffset() const { return fDataOffset; }
  // The data bytes that exist: the data chunk's stated size, limited to the end of the RIFF
  // chunk (or of the file, when that comes first).
  uint32_t DataSize() const { return fDataSize; }
  // DataSize() / FrameBytes(): whole frames only.
  uint32_t FrameCount() const { return fFrameCount; }
  // The data chunk (or the ds64 chunk) declares more bytes than the file holds, and not as a
  // writer that streams does: the file was cut short. DeclaredFrames() is what it declares.
  bool CutShort() const { return fCutShort; }
  uint64_t DeclaredFrames() const { return fDeclaredFrames; }
  // What the file holds besides its samples.
  const TWavExtras& Extras() const { return fExtras; }

  // The file's first bytes as read into the head at opening (empty without a head), and the
  // end of their use by the source (see TFileSource::ForgetHead).
  std::span<const uint8_t> Head() const;
  void ForgetHead();

  // Reads `bytes` of samples from frame `firstFrame` into `dest`. The header counted only
  // frames the file held, so all of them must come. Safe to call from several threads.
  void ReadFrames(uint64_t firstFrame, uint8_t* dest, size_t bytes) const;

 private:
  using TChunkId = char[5];

  [[noreturn]] void Refuse(const std::string& message, const std::string& reason = {},
                           TFault fault = TFault::kSource) const;
  void Parse();
  bool ReadTag(const TChunkId& tag);
  uint16_t ReadU16();
  uint32_t ReadU32();
  bool ReadFormType();
  bool ReadRiffSize();
  void ReadDs64(uint64_t& position);
  void ReadStreamFields();
  void ReadFormat(uint64_t body, uint32_t size);
  void ReadPcmFormat(uint32_t size);
  void ReadExtensibleFormat();
  [[noreturn]] void RefuseFloat() const;
  bool ByteRateMatches() const;
  bool BlockAlignMatches() const;
  bool ChannelCountAllowed() const;
  [[noreturn]] void RefuseChannelCount() const;
  void NoteValidBits();
  void NoteChannelMask();
  void NoteChunk(const uint8_t* id);
  bool FindChunk(const TChunkId& id, uint64_t& position, uint32_t& size);
  uint64_t ChunkEnd(uint64_t body, uint64_t size, const TChunkId& next);
  uint64_t PadAfterOddChunk(uint64_t position, const TChunkId& next);
  uint64_t DataChunkSize(uint32_t statedSize) const;
  bool IsStreamingPlaceholder(uint32_t statedSize) const;
  void TakeData(uint64_t body, uint32_t statedSize);
  bool EndsInPadByte();
  void NoteChunksAfterData(uint64_t body, uint32_t statedSize);

  std::string fFileName;                 // the input's name, for messages
  std::unique_ptr<TByteSource> fStream;  // the input
  TFileSource* fFile = nullptr;          // fStream, when it is a file
  TWavHeader fHeader;
  bool fExtensible = false;
  uint64_t fDataOffset = 0;
  uint32_t fDataSize = 0;
  uint32_t fFrameCount = 0;
  bool fCutShort = false;
  uint64_t fDeclaredFrames = 0;
  TWavExtras fExtras;
  uint64_t fRiffEnd = 0;       // where the chunks end: the RIFF chunk's end or the file's
  bool fRf64 = false;          // an RF64 file: its true sizes are in the ds64 chunk
  uint64_t fRf64DataSize = 0;  // the data chunk's size from the ds64 chunk
  bool fRf64Streamed = false;  // the ds64 sizes are a streaming writer's placeholders
};

}  // namespace tarvix
