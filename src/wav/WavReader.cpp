#include "wav/WavReader.h"

#include <algorithm>
#include <cstring>

#include "bits/LittleEndian.h"
#include "bits/SampleContainers.h"
#include "platform/Errors.h"

namespace tarvix {

namespace {

constexpr uint32_t kRiffHeaderBytes = 12;     // "RIFF", size, "WAVE"
constexpr uint32_t kChunkHeaderBytes = 8;     // identifier, size
constexpr uint32_t kPcmFmtBytes = 16;         // wFormatTag through wBitsPerSample
constexpr uint32_t kExtensibleFmtBytes = 40;  // through SubFormat
constexpr const char* kWrongBitsMessage = "Wrong bits per sample (8,16,24 and 32 allowed)";

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

TWavReader::~TWavReader() = default;

void TWavReader::Refuse(const std::string& message, const std::string& reason, TFault fault) const {
  throw TError(message, fFileName, reason, fault);
}

// ---- Reading ----

void TWavReader::Open(const std::string& fileName, std::span<uint8_t> head) {
  Close();
  fFileName = fileName;
  std::unique_ptr<TFileSource> file;
  try {
    file = std::make_unique<TFileSource>(fileName, head);
  } catch (const TFileError& error) {
    // Worded as the file that is not open, whatever kept it from opening; a lack of
    // descriptors or memory is no fault of the file's.
    Refuse("File not opened", error.Reason(), error.Fault());
  }
  TFileSource* opened = file.get();
  OpenSource(std::move(file), fileName);
  fFile = opened;
}

void TWavReader::OpenSource(std::unique_ptr<TByteSource> source, const std::string& name) {
  fStream = std::move(source);
  fFile = nullptr;
  fFileName = name;
  try {
    Parse();
  } catch (const TFileError& error) {
    Refuse("Error while reading the file", error.Reason(), error.Fault());
  }
}

uint16_t TWavReader::ReadU16() {
  uint8_t b[2] = {};  // bytes past the end read as zero
  fStream->Read(b, 2);
  return LoadLE<uint16_t>(b);
}

uint32_t TWavReader::ReadU32() {
  uint8_t b[4] = {};
  fStream->Read(b, 4);
  return LoadLE<uint32_t>(b);
}

bool TWavReader::ReadTag(const TChunkId& tag) {
  char got[4];
  return fStream->Read(got, 4) == 4 && std::memcmp(got, tag, 4) == 0;
}

// "RIFF", or "RF64" for a file whose sizes may pass 4 GiB (its true sizes follow in a ds64
// chunk).
bool TWavReader::ReadFormType() {
  char form[4];
  if (fStream->Read(form, 4) != 4) return false;
  fRf64 = std::memcmp(form, "RF64", 4) == 0;
  return fRf64 || std::memcmp(form, "RIFF", 4) == 0;
}

// The chunks end where the RIFF size says, or at the end of the file when the size reaches past
// it: a writer streaming to a pipe cannot go back to fill the size in (ffmpeg leaves 0xFFFFFFFF,
// sox about 0x7FFFF000), and a file cut short ends early. Bytes after the RIFF chunk (tags,
// garbage) are never looked at. Only a file too short for the RIFF header, or a size too small
// for the form type, is refused. An RF64 file's 32-bit size is a placeholder: the ds64 chunk
// gives the true one.
bool TWavReader::ReadRiffSize() {
  const uint64_t length = fStream->Size();
  const uint32_t riffSize = ReadU32();
  if (length < kRiffHeaderBytes || (!fRf64 && riffSize < 4)) return false;
  fRiffEnd = fRf64 ? length : std::min(length, uint64_t{riffSize} + 8);
  return true;
}

// An RF64 file's first chunk: the 64-bit sizes of the RIFF chunk and of the data chunk (then a
// sample count and a table, which the sizes make needless). `position` moves past it.
void TWavReader::ReadDs64(uint64_t& position) {
  fStream->Seek(position);
  // Without it the file's sizes are unknown.
  if (!ReadTag("ds64")) Refuse("Wrong format or bad file header (ds64)");
  const uint32_t size = ReadU32();
  const uint64_t body = position + kChunkHeaderBytes;
  // Both sizes must be there, within the file.
  if (size < 16 || body + size > fRiffEnd) Refuse("Wrong file size or bad header");
  uint8_t sizes[16];
  fStream->Read(sizes, sizeof sizes);
  const uint64_t riffSize = LoadLE<uint64_t>(sizes);
  fRf64DataSize = LoadLE<uint64_t>(sizes + 8);
  // Sizes of 0 are what a writer streaming to a pipe leaves (ffmpeg does): the chunks and the
  // data then run to the end, as in a streamed RIFF file.
  fRf64Streamed = riffSize == 0;
  if (fRf64Streamed) {
    if (fRf64DataSize == 0) fRf64DataSize = 0xFFFFFFFF;
  } else if (riffSize < 4) {
    Refuse("Wrong file size or bad header");  // too small for the form type
  } else {
    fRiffEnd = std::min(fRiffEnd, riffSize + 8);
  }
  position = ChunkEnd(body, size, "fmt ");
}

// nAvgBytesPerSec must equal channels * bits * rate / 8, the product taken modulo 2^32.
bool TWavReader::ByteRateMatches() const {
  uint32_t product = uint32_t{fHeader.nChannels} * fHeader.wBitsPerSample * fHeader.nSamplesPerSec;
  return product % 8 == 0 && fHeader.nAvgBytesPerSec == product / 8;
}

// The frame size must be what the channels and the container width make, or the frame count
// and the size of the caller's buffer would not agree with the data.
bool TWavReader::BlockAlignMatches() const {
  return fHeader.nBlockAlign != 0 &&
         fHeader.nBlockAlign == uint32_t{fHeader.nChannels} * fHeader.wBitsPerSample / 8;
}

// Readers of NCW files decode up to six channels, so no more are written.
bool TWavReader::ChannelCountAllowed() const {
  return fHeader.nChannels >= 1 && fHeader.nChannels <= kMaxWavChannels;
}

void TWavReader::RefuseChannelCount() const {
  Refuse("Only 1 to " + std::to_string(kMaxWavChannels) + " channels allowed (this file has " +
         std::to_string(fHeader.nChannels) + ")");
}

// Float samples would have to be rounded to integers: refused by name, before any other check,
// so that the user learns what the file is.
void TWavReader::RefuseFloat() const {
  Refuse(std::to_string(fHeader.wBitsPerSample) +
         "-bit float samples are not supported (NCW holds integer PCM)");
}

// The fields both header forms share, from nChannels to wBitsPerSample.
void TWavReader::ReadStreamFields() {
  fHeader.nChannels = ReadU16();
  fHeader.nSamplesPerSec = ReadU32();
  fHeader.nAvgBytesPerSec = ReadU32();
  fHeader.nBlockAlign = ReadU16();
  fHeader.wBitsPerSample = ReadU16();
}

void TWavReader::ReadFormat(uint64_t body, uint32_t size) {
  // A file cut short inside its fmt chunk has no header to trust.
  if (body + size > fRiffEnd) Refuse("Wrong file size or bad header");
  fStream->Seek(body);
  fHeader.wFormatTag = ReadU16();
  if (fHeader.wFormatTag == kWaveFormatPcm) return ReadPcmFormat(size);
  if (fHeader.wFormatTag == kWaveFormatFloat && size >= kPcmFmtBytes) {
    ReadStreamFields();
    RefuseFloat();
  }
  // A longer extensible chunk only adds bytes that are skipped with the chunk.
  if (fHeader.wFormatTag == kWaveFormatExtensible && size >= kExtensibleFmtBytes) {
    return ReadExtensibleFormat();
  }
  Refuse("Non supported WAV format");
}

// Any size from 16 bytes up: many writers add cbSize (18 bytes, usually 0) or more, and the
// bytes after wBitsPerSample say nothing about PCM samples.
void TWavReader::ReadPcmFormat(uint32_t size) {
  fExtensible = false;
  if (size < kPcmFmtBytes) Refuse("Wrong format or bad file header (fmt chunk size)");
  ReadStreamFields();
  if (!ByteRateMatches()) Refuse("Bad file header (AvgBytesPerSec)");
  if (!IsContainerWidth(fHeader.wBitsPerSample)) Refuse(kWrongBitsMessage);
  if (!ChannelCountAllowed()) RefuseChannelCount();
  if (!BlockAlignMatches()) Refuse("Bad file header (BlockAlign)");
}

void TWavReader::ReadExtensibleFormat() {
  fExtensible = true;
  ReadStreamFields();
  fHeader.cbSize = ReadU16();
  fHeader.wValidBitsPerSample = ReadU16();
  fHeader.dwChannelMask = ReadU32();
  std::array<uint8_t, 16> subFormat{};
  fStream->Read(subFormat.data(), subFormat.size());
  fHeader.SubFormat = subFormat;
  if (subFormat == kSubtypeFloat) RefuseFloat();
  if (!ByteRateMatches()) Refuse("Bad file header (AvgBytesPerSec)");
  if (fHeader.cbSize != 22) Refuse("Bad file header (extension chink size)");
  if (subFormat != kSubtypePcm) Refuse("Non supported format (GUID)");
  // The samples are read whole, as their containers hold them, so any number of significant
  // bits up to the container's width does; more, or none, is a broken header. The container
  // width itself is checked through the byte rate and the frame size.
  if (fHeader.wValidBitsPerSample == 0 || fHeader.wValidBitsPerSample > fHeader.wBitsPerSample) {
    Refuse("Bad file header (ValidBitsPerSample)");
  }
  if (!ChannelCountAllowed()) RefuseChannelCount();
  if (!BlockAlignMatches()) Refuse("Bad file header (BlockAlign)");
  NoteValidBits();
  NoteChannelMask();
}

// The samples keep every bit of their containers; the figure that says how many of them count
// is not kept.
void TWavReader::NoteValidBits() {
  if (fHeader.wValidBitsPerSample >= fHeader.wBitsPerSample) return;
  fExtras.validBits = fHeader.wValidBitsPerSample;
  fExtras.containerBits = fHeader.wBitsPerSample;
}

// A WAV file written from NCW carries no speaker mask, and a player then takes mono as front
// centre and stereo as front left and right. So a mask is lost only where it says more than
// that: any mask of 3 to 6 channels, and any other for mono or stereo.
void TWavReader::NoteChannelMask() {
  constexpr uint32_t kFrontCentre = 0x4;
  constexpr uint32_t kFrontLeftRight = 0x3;
  const uint32_t mask = fHeader.dwChannelMask;
  const bool impliedByCount = mask == 0 || (fHeader.nChannels == 1 && mask == kFrontCentre) ||
                              (fHeader.nChannels == 2 && mask == kFrontLeftRight);
  if (!impliedByCount) fExtras.channelMask = mask;
}

// Chunks that frame the samples or only fill space are not named; every other one once.
void TWavReader::NoteChunk(const uint8_t* id) {
  static constexpr const char* kSilent[] = {"fmt ", "data", "fact", "ds64",
                                            "JUNK", "junk", "PAD ", "FLLR"};
  for (const char* silent : kSilent) {
    if (std::memcmp(id, silent, 4) == 0) return;
  }
  TChunkIdBytes chunk;
  std::memcpy(chunk.data(), id, 4);
  std::vector<TChunkIdBytes>& ids = fExtras.chunkIds;
  if (std::find(ids.begin(), ids.end(), chunk) != ids.end()) return;
  if (ids.size() == TWavExtras::kMaxChunkIds) {
    fExtras.moreChunkIds = true;
  } else {
    ids.push_back(chunk);
  }
}

// After a chunk of odd size comes a pad byte, which some writers leave out. The chunk looked
// for, starting right there, is taken as it stands: its header is unmistakable, while the byte
// that would be the pad may be anything (audio often begins with a zero byte). Otherwise a zero
// byte is the pad, and the pad is taken to be missing when a plausible chunk header starts
// right there and not one byte later.
uint64_t TWavReader::PadAfterOddChunk(uint64_t position, const TChunkId& next) {
  uint8_t bytes[kChunkHeaderBytes + 1] = {};
  fStream->Seek(position);
  size_t got = fStream->Read(bytes, sizeof bytes);
  if (got >= 4 && std::memcmp(bytes, next, 4) == 0) return 0;
  if (got == 0 || bytes[0] == 0) return 1;
  // Printable identifier, and a size that stays within the chunks (a data chunk may reach past
  // them: such files are read as far as they go).
  auto plausible = [&](const uint8_t* header, uint64_t at) {
    if (at + kChunkHeaderBytes > fRiffEnd || !LooksLikeChunkId(header)) return false;
    if (std::memcmp(header, "data", 4) == 0) return true;
    return at + kChunkHeaderBytes + LoadLE<uint32_t>(header + 4) <= fRiffEnd;
  };
  bool here = got >= kChunkHeaderBytes && plausible(bytes, position);
  bool oneLater = got == sizeof bytes && plausible(bytes + 1, position + 1);
  return here && !oneLater ? 0 : 1;
}

// Where the chunk after the one at `body` starts, its pad byte honoured.
uint64_t TWavReader::ChunkEnd(uint64_t body, uint64_t size, const TChunkId& next) {
  uint64_t end = body + size;
  return size % 2 != 0 ? end + PadAfterOddChunk(end, next) : end;
}

// Walks the chunks from `position` to the first one named `id`, skipping every other chunk by
// its size, wherever it lies (JUNK and bext before fmt, LIST and fact before data). On success
// `position` is the chunk body's and `size` its stated size.
bool TWavReader::FindChunk(const TChunkId& id, uint64_t& position, uint32_t& size) {
  while (position + kChunkHeaderBytes <= fRiffEnd) {
    fStream->Seek(position);
    uint8_t chunk[kChunkHeaderBytes];
    if (fStream->Read(chunk, sizeof chunk) < sizeof chunk) return false;
    size = LoadLE<uint32_t>(chunk + 4);
    position += kChunkHeaderBytes;
    if (std::memcmp(chunk, id, 4) == 0) return true;
    NoteChunk(chunk);
    position = ChunkEnd(position, size, id);
  }
  return false;
}

// An RF64 data chunk's size of 0xFFFFFFFF stands for the ds64 chunk's.
uint64_t TWavReader::DataChunkSize(uint32_t statedSize) const {
  return fRf64 && statedSize == 0xFFFFFFFF ? fRf64DataSize : uint64_t{statedSize};
}

// The sizes a writer leaves when it streams and cannot go back to fill them in: 0, 0xFFFFFFFF
// (ffmpeg), and sox's 0x7FFFF000 cut down to whole frames.
bool TWavReader::IsStreamingPlaceholder(uint32_t statedSize) const {
  constexpr uint32_t kSoxUnknownLength = 0x7FFFF000;
  const uint32_t sox = kSoxUnknownLength - kSoxUnknownLength % fHeader.nBlockAlign;
  return statedSize == 0 || statedSize == 0xFFFFFFFF || statedSize == sox;
}

// A data size that reaches past the end of the chunks was not filled in by its writer, or the
// file was cut short: the data runs to the end, and the partial frame there is not counted.
// Nothing is invented.
void TWavReader::TakeData(uint64_t body, uint32_t statedSize) {
  const uint64_t size = DataChunkSize(statedSize);
  const uint64_t available = fRiffEnd - body;
  const uint64_t present = std::min(size, available);
  const uint64_t inFile = fStream->Size() - body;
  const bool placeholder = fRf64 && statedSize == 0xFFFFFFFF
                               ? fRf64Streamed || fRf64DataSize == ~uint64_t{0}
                               : IsStreamingPlaceholder(statedSize);
  fCutShort = size > inFile && !placeholder;
  fDeclaredFrames = size / fHeader.nBlockAlign;
  // Sizes and frame counts are 32-bit from here on, as in an NCW file.
  if (present > 0xFFFFFFFF) {
    Refuse("RF64 data of " + std::to_string(present) + " bytes exceeds the 4 GiB limit");
  }
  fDataOffset = body;
  fDataSize = static_cast<uint32_t>(present);
  if (size > available && EndsInPadByte()) --fDataSize;
  fFrameCount = fDataSize / fHeader.nBlockAlign;
}

// Data of odd length is followed by a zero pad byte, also when the writer streams and cannot
// state the size (sox does). Running to the end, the data then takes the pad in; only where a
// frame is one byte would it count as a sample (a full-scale click in 8-bit mono). A zero byte
// that ends data of even length is taken as that pad.
bool TWavReader::EndsInPadByte() {
  if (fHeader.nBlockAlign != 1 || fDataSize == 0 || fDataSize % 2 != 0) return false;
  uint8_t last = 1;
  fStream->Seek(fDataOffset + fDataSize - 1);
  fStream->Read(&last, 1);
  return last == 0;
}

// Loop points, cue lists and tags often follow the samples. They are named only where the data
// chunk ends within the file, and up to the first bytes that are no chunk header (a tail of
// zeros or garbage is not a chunk).
void TWavReader::NoteChunksAfterData(uint64_t body, uint32_t statedSize) {
  const uint64_t size = DataChunkSize(statedSize);
  if (body + size > fRiffEnd) return;  // streamed or cut short: the data runs to the end
  uint64_t position = ChunkEnd(body, size, "LIST");
  while (position + kChunkHeaderBytes <= fRiffEnd) {
    uint8_t chunk[kChunkHeaderBytes];
    fStream->Seek(position);
    if (fStream->Read(chunk, sizeof chunk) < sizeof chunk || !LooksLikeChunkId(chunk)) return;
    NoteChunk(chunk);
    position = ChunkEnd(position + kChunkHeaderBytes, LoadLE<uint32_t>(chunk + 4), "LIST");
  }
}

void TWavReader::Parse() {
  fExtras = {};
  fCutShort = false;
  fStream->Seek(0);
  if (!ReadFormType()) Refuse("Wrong format or bad file header (RIFF)");
  if (!ReadRiffSize()) Refuse("Wrong file size or bad header");
  if (!ReadTag("WAVE")) Refuse("Wrong format or bad file header (WAVE)");
  uint64_t fmtBody = kRiffHeaderBytes;
  if (fRf64) ReadDs64(fmtBody);
  uint32_t fmtSize = 0;
  if (!FindChunk("fmt ", fmtBody, fmtSize)) Refuse("Wrong format or bad file header (fmt )");
  ReadFormat(fmtBody, fmtSize);
  uint64_t dataBody = ChunkEnd(fmtBody, fmtSize, "data");
  uint32_t dataSize = 0;
  if (!FindChunk("data", dataBody, dataSize)) Refuse("No data chunk found");
  TakeData(dataBody, dataSize);
  NoteChunksAfterData(dataBody, dataSize);
  fStream->Seek(fDataOffset);
}

void TWavReader::ReadFrames(uint64_t firstFrame, uint8_t* dest, size_t bytes) const {
  size_t got = 0;
  try {
    got = fStream->ReadAt(fDataOffset + firstFrame * fHeader.nBlockAlign, dest, bytes);
  } catch (const TFileError& error) {
    Refuse("Error while reading the file", error.Reason(), error.Fault());
  }
  // Fewer than the header counted: the file was cut while it was read.
  if (got != bytes) Refuse("Error while reading the file", "cut short while it was read");
}

void TWavReader::Close() {
  fFile = nullptr;
  fStream.reset();
}

std::span<const uint8_t> TWavReader::Head() const {
  return fFile != nullptr ? fFile->Head() : std::span<const uint8_t>();
}

void TWavReader::ForgetHead() {
  if (fFile != nullptr) fFile->ForgetHead();
}

TStreamDescription TWavReader::StreamDescription() const {
  return {fHeader.nChannels, fHeader.nSamplesPerSec, fHeader.wBitsPerSample, fFrameCount};
}

}  // namespace tarvix
