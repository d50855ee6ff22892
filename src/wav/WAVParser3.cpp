#include "wav/WAVParser3.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "bits/LittleEndian.h"
#include "platform/Errors.h"
#include "platform/FileSystem.h"

namespace tarvix {

namespace {

constexpr uint32_t kRiffHeaderBytes = 12;  // "RIFF", size, "WAVE"
constexpr uint32_t kChunkHeaderBytes = 8;  // identifier, size

bool IsSampleWidth(uint16_t bits) {
  return bits == 8 || bits == 16 || bits == 24;
}

// A plausible chunk identifier: four printable ASCII characters.
bool LooksLikeChunkId(const uint8_t* p) {
  return std::all_of(p, p + 4, [](uint8_t c) { return c >= 0x20 && c <= 0x7E; });
}

}  // namespace

std::array<uint8_t, TWavHeader::kExtendedBytes> TWavHeader::Image() const {
  std::array<uint8_t, kExtendedBytes> image{};
  uint8_t* p = image.data();
  std::memcpy(p + 0, RiffId.data(), 4);
  StoreLE<uint32_t>(p + 4, RiffSize);
  std::memcpy(p + 8, WaveId.data(), 4);
  std::memcpy(p + 12, FmtId.data(), 4);
  StoreLE<uint32_t>(p + 16, FmtSize);
  StoreLE<uint16_t>(p + 20, wFormatTag);
  StoreLE<uint16_t>(p + 22, nChannels);
  StoreLE<uint32_t>(p + 24, nSamplesPerSec);
  StoreLE<uint32_t>(p + 28, nAvgBytesPerSec);
  StoreLE<uint16_t>(p + 32, nBlockAlign);
  StoreLE<uint16_t>(p + 34, wBitsPerSample);
  StoreLE<uint16_t>(p + 36, cbSize);
  StoreLE<uint16_t>(p + 38, wValidBitsPerSample);
  StoreLE<uint32_t>(p + 40, dwChannelMask);
  std::memcpy(p + 44, SubFormat.data(), 16);
  return image;
}

TWavParser::~TWavParser() = default;  // an unfinished output is closed without a report

void TWavParser::SetError(const std::string& message, const std::string& reason) {
  fErrorText = message;
  fErrorReason = reason;
}

bool TWavParser::Fail(const std::string& message) {
  SetError(message);
  return false;
}

// ---- Reading ----

bool TWavParser::OpenFile(const std::string& fileName, std::span<uint8_t> head) {
  fOpened = false;
  try {
    auto file = std::make_unique<TFileSource>(fileName, head);
    TFileSource* opened = file.get();
    OpenSource(std::move(file), fileName);
    fFile = opened;
    return true;
  } catch (const TFileError& error) {
    SetError(error.CannotOpen() ? "Can't open file" : "Error while opening the file",
             error.Reason());
    return false;
  }
}

bool TWavParser::OpenSource(std::unique_ptr<TByteSource> source, const std::string& name) {
  fStream = std::move(source);
  fFile = nullptr;
  fOpened = true;
  fFileName = name;
  return true;
}

uint16_t TWavParser::ReadU16() {
  uint8_t b[2] = {};  // bytes past the end read as zero
  fStream->Read(b, 2);
  return static_cast<uint16_t>(b[0] | b[1] << 8);
}

uint32_t TWavParser::ReadU32() {
  uint8_t b[4] = {};
  fStream->Read(b, 4);
  return uint32_t{b[0]} | uint32_t{b[1]} << 8 | uint32_t{b[2]} << 16 | uint32_t{b[3]} << 24;
}

bool TWavParser::ReadTag(const char (&tag)[5]) {
  char got[4];
  return fStream->Read(got, 4) == 4 && std::memcmp(got, tag, 4) == 0;
}

// RIFF size + 8, taken as a signed 32-bit number, must be the file's length: this refuses both
// trailing bytes and files of 2 GiB or more.
bool TWavParser::RiffSizeMatchesFile() {
  uint32_t riffSize = ReadU32();
  auto total = static_cast<int32_t>(riffSize + 8u);
  return static_cast<int64_t>(total) == static_cast<int64_t>(fStream->Size());
}

// nAvgBytesPerSec must equal channels * bits * rate / 8, the product taken modulo 2^32.
bool TWavParser::ByteRateMatches() const {
  uint32_t product = uint32_t{fHeader.nChannels} * fHeader.wBitsPerSample * fHeader.nSamplesPerSec;
  return product % 8 == 0 && fHeader.nAvgBytesPerSec == product / 8;
}

// The frame size must be what the channels and the container width make, or the frame count
// and the size of the caller's buffer would not agree with the data.
bool TWavParser::BlockAlignMatches() const {
  return fHeader.nBlockAlign != 0 &&
         fHeader.nBlockAlign == uint32_t{fHeader.nChannels} * fHeader.wBitsPerSample / 8;
}

// The fields both header forms share, from nChannels to wBitsPerSample.
void TWavParser::ReadStreamFields() {
  fHeader.nChannels = ReadU16();
  fHeader.nSamplesPerSec = ReadU32();
  fHeader.nAvgBytesPerSec = ReadU32();
  fHeader.nBlockAlign = ReadU16();
  fHeader.wBitsPerSample = ReadU16();
}

bool TWavParser::ReadPcmFormat(uint32_t fmtSize) {
  fExtensible = false;
  if (fmtSize != 16 && fmtSize != 20) {
    return Fail("Wrong format or bad file header (fmt chunk size)");
  }
  ReadStreamFields();
  if (!ByteRateMatches()) return Fail("Bad file header (AvgBytesPerSec)");
  if (!IsSampleWidth(fHeader.wBitsPerSample)) {
    return Fail("Wrong bits per sample (8,16 and 24 allowed)");
  }
  if (fHeader.nChannels != 1 && fHeader.nChannels != 2) {
    return Fail("Only mono and stereo allowed");
  }
  if (!BlockAlignMatches()) return Fail("Bad file header (BlockAlign)");
  return true;  // the 4 further bytes of a 20-byte chunk are not looked at
}

bool TWavParser::ReadExtensibleFormat() {
  fExtensible = true;
  ReadStreamFields();
  fHeader.cbSize = ReadU16();
  fHeader.wValidBitsPerSample = ReadU16();
  if (!ByteRateMatches()) return Fail("Bad file header (AvgBytesPerSec)");
  if (fHeader.cbSize != 22) return Fail("Bad file header (extension chink size)");
  // The container width is checked only through the byte rate: 24 valid bits in 32-bit
  // containers pass.
  if (!IsSampleWidth(fHeader.wValidBitsPerSample)) {
    return Fail("Wrong bits per sample (8,16 and 24 allowed)");
  }
  if (fHeader.nChannels != 1 && fHeader.nChannels != 2) {
    return Fail("Only mono and stereo allowed");
  }
  fHeader.dwChannelMask = ReadU32();
  std::array<uint8_t, 16> subFormat{};
  fStream->Read(subFormat.data(), subFormat.size());
  fHeader.SubFormat = subFormat;
  if (subFormat != kSubtypePcm) return Fail("Non supported format (GUID)");
  if (!BlockAlignMatches()) return Fail("Bad file header (BlockAlign)");
  return true;
}

// After a chunk of odd size comes a pad byte, which some writers leave out. A zero byte is the
// pad. Otherwise the pad is taken to be missing when a plausible chunk header starts right
// there and not one byte later.
uint64_t TWavParser::PadAfterOddChunk(uint64_t position) {
  uint8_t next[kChunkHeaderBytes + 1] = {};
  fStream->Seek(position);
  size_t got = fStream->Read(next, sizeof next);
  if (got == 0 || next[0] == 0) return 1;
  const uint64_t length = fStream->Size();
  // Printable identifier, and a size that stays within the file (a data chunk may reach past
  // it: such files are read as far as they go).
  auto plausible = [&](const uint8_t* header, uint64_t at) {
    if (at + kChunkHeaderBytes > length || !LooksLikeChunkId(header)) return false;
    if (std::memcmp(header, "data", 4) == 0) return true;
    uint32_t size = uint32_t{header[4]} | uint32_t{header[5]} << 8 | uint32_t{header[6]} << 16 |
                    uint32_t{header[7]} << 24;
    return at + kChunkHeaderBytes + size <= length;
  };
  bool here = got >= kChunkHeaderBytes && plausible(next, position);
  bool oneLater = got == sizeof next && plausible(next + 1, position + 1);
  return here && !oneLater ? 0 : 1;
}

// Walks the chunks after the fmt chunk until "data"; chunks after it are never looked at.
bool TWavParser::FindDataChunk(uint64_t position) {
  const uint64_t length = fStream->Size();
  while (position + 1 < length) {
    fStream->Seek(position);
    uint8_t chunk[kChunkHeaderBytes];
    if (fStream->Read(chunk, sizeof chunk) < sizeof chunk) return false;
    uint32_t size = uint32_t{chunk[4]} | uint32_t{chunk[5]} << 8 | uint32_t{chunk[6]} << 16 |
                    uint32_t{chunk[7]} << 24;
    fDataOffset = static_cast<uint32_t>(position + kChunkHeaderBytes);  // the file is < 2 GiB
    fDataSize = size;
    if (std::memcmp(chunk, "data", 4) == 0) return true;
    position += kChunkHeaderBytes + uint64_t{size};
    if (size % 2 != 0) position += PadAfterOddChunk(position);
  }
  return false;
}

bool TWavParser::ParseSteps() {
  if (!fOpened) return Fail("File not opened");
  fStream->Seek(0);
  if (!ReadTag("RIFF")) return Fail("Wrong format or bad file header (RIFF)");
  if (!RiffSizeMatchesFile()) return Fail("Wrong file size or bad header");
  if (!ReadTag("WAVE")) return Fail("Wrong format or bad file header (WAVE)");
  if (!ReadTag("fmt ")) return Fail("Wrong format or bad file header (fmt )");
  uint32_t fmtSize = ReadU32();
  fHeader.wFormatTag = ReadU16();
  if (fHeader.wFormatTag == kWaveFormatPcm) {
    if (!ReadPcmFormat(fmtSize)) return false;
  } else if (fHeader.wFormatTag == kWaveFormatExtensible && fmtSize == 40) {
    if (!ReadExtensibleFormat()) return false;
  } else {
    return Fail("Non supported WAV format");
  }
  if (!FindDataChunk(kRiffHeaderBytes + kChunkHeaderBytes + uint64_t{fmtSize})) {
    return Fail("No data chunk found");
  }
  fFrameCount = fDataSize / fHeader.nBlockAlign;
  fStream->Seek(fDataOffset);
  return true;
}

bool TWavParser::ParseHeader() {
  try {
    return ParseSteps();
  } catch (const TFileError& error) {
    SetError("Error while reading the file", error.Reason());
    return false;
  }
}

bool TWavParser::ReadData(uint8_t* dest, size_t destSize) {
  if (!fOpened) return Fail("File not opened");
  try {
    fStream->ReadAt(fDataOffset, dest, std::min<size_t>(fDataSize, destSize));
    return true;
  } catch (const TFileError& error) {
    SetError("Error while reading the file", error.Reason());
    return false;
  }
}

void TWavParser::CloseFile() {
  fOpened = false;
  fFile = nullptr;
  fStream.reset();
  if (fOutput) {
    std::unique_ptr<TFileSink> output = std::move(fOutput);
    output->Close();  // raises when the data did not reach the file
  }
}

TStreamDescription TWavParser::StreamDescription() const {
  return {fHeader.nChannels, fHeader.nSamplesPerSec, fHeader.wBitsPerSample, fFrameCount};
}

// ---- Writing ----

bool TWavParser::CreateOutputFile(const std::string& fileName) {
  try {
    try {
      fOutput = std::make_unique<TFileSink>(fileName);
    } catch (const TFileError& error) {
      // A file that cannot be written may still be deleted and made anew.
      if (error.ErrorNumber() != EACCES || !DeleteFileName(fileName)) throw;
      fOutput = std::make_unique<TFileSink>(fileName);
    }
  } catch (const TFileError& error) {
    SetError(error.CannotOpen() ? "Can't open file" : "Error while opening the file",
             error.Reason());
    return false;
  }
  fWritePosition = 0;
  WriteHeader();
  return true;
}

bool TWavParser::WriteHeader() {
  if (fHeader.wFormatTag == kWaveFormatPcm) return WriteStandardHeader();
  if (fHeader.wFormatTag == kWaveFormatExtensible) return WriteExtendedHeader();
  return false;
}

void TWavParser::FillStandardHeader() {
  std::memcpy(fHeader.RiffId.data(), "RIFF", 4);
  fHeader.RiffSize = fDataSize + 36;  // wraps like the u32 it is
  std::memcpy(fHeader.WaveId.data(), "WAVE", 4);
  std::memcpy(fHeader.FmtId.data(), "fmt ", 4);
  fHeader.FmtSize = 16;
  fExtensible = false;
}

void TWavParser::FillExtendedHeader() {
  std::memcpy(fHeader.RiffId.data(), "RIFF", 4);
  fHeader.RiffSize = fDataSize + 60;
  std::memcpy(fHeader.WaveId.data(), "WAVE", 4);
  std::memcpy(fHeader.FmtId.data(), "fmt ", 4);
  fHeader.FmtSize = 40;
  fHeader.cbSize = 22;
  fHeader.wValidBitsPerSample = fHeader.wBitsPerSample;
  fHeader.dwChannelMask = 0;
  fHeader.SubFormat = kSubtypePcm;
  fExtensible = true;
}

size_t TWavParser::BuildHeader(uint8_t* out) {
  if (fHeader.wFormatTag == kWaveFormatPcm) return BuildHeaderOfKind(out, false);
  if (fHeader.wFormatTag == kWaveFormatExtensible) return BuildHeaderOfKind(out, true);
  return 0;
}

size_t TWavParser::BuildHeaderOfKind(uint8_t* out, bool extended) {
  if (extended) {
    FillExtendedHeader();
  } else {
    FillStandardHeader();
  }
  const size_t fieldBytes = extended ? TWavHeader::kExtendedBytes : TWavHeader::kStandardBytes;
  std::memcpy(out, fHeader.Image().data(), fieldBytes);
  std::memcpy(out + fieldBytes, "data", 4);
  StoreLE<uint32_t>(out + fieldBytes + 4, fDataSize);
  return fieldBytes + kChunkHeaderBytes;
}

bool TWavParser::WriteStandardHeader() {
  uint8_t header[kMaxWavHeaderBytes];
  WriteData(header, static_cast<int32_t>(BuildHeaderOfKind(header, false)));
  return true;
}

bool TWavParser::WriteExtendedHeader() {
  uint8_t header[kMaxWavHeaderBytes];
  WriteData(header, static_cast<int32_t>(BuildHeaderOfKind(header, true)));
  return true;
}

void TWavParser::WriteData(const void* buffer, int32_t count) {
  if (!fOutput || count <= 0) return;
  fOutput->WriteAt(fWritePosition, buffer, static_cast<size_t>(count));
  fWritePosition += static_cast<uint64_t>(count);
}

}  // namespace tarvix
