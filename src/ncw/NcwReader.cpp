#include "ncw/NcwReader.h"

#include <algorithm>
#include <cstring>

#include "bits/Crc32c.h"
#include "bits/LittleEndian.h"
#include "bits/SampleContainers.h"
#include "ncw/NcwChecksums.h"
#include "platform/Errors.h"

namespace tarvix {

namespace {

constexpr uint64_t kMaxWavFrameBytes = 0xFFFF;             // nBlockAlign is 16 bits
constexpr uint64_t kMaxWavDataBytes = 0xFFFFFFFFull - 60;  // RIFF size is 32 bits

}  // namespace

TNcwReader::~TNcwReader() {
  Close();
}

void TNcwReader::Close() {
  fFile = nullptr;
  fHead = {};
  fSource.reset();
}

void TNcwReader::Refuse(const std::string& message) const {
  RefuseNcwBytes(fFileName, message);
}

void TNcwReader::Open(const std::string& fileName, std::span<uint8_t> head) {
  std::unique_ptr<TFileSource> file;
  try {
    file = std::make_unique<TFileSource>(fileName, head);
  } catch (const TFileError& error) {
    if (error.CannotOpen() || error.Kind() == TFileErrorKind::kNotRegular) {
      // Still the file layer's error: a file that cannot be opened is no damaged file.
      if (error.ErrorNumber() != 0) {
        throw TFileError(error.Kind(), "Can't open file", fileName, error.ErrorNumber());
      }
      throw TFileError(error.Kind(), "Can't open file", fileName, error.Reason());
    }
    throw;
  }
  TFileSource* opened = file.get();
  OpenSource(std::move(file), fileName);
  fFile = opened;
  fHead = opened->Head();
}

void TNcwReader::ForgetHead() {
  fHead = {};
  if (fFile != nullptr) fFile->ForgetHead();
}

void TNcwReader::OpenSource(std::unique_ptr<TByteSource> source, const std::string& name) {
  fFileName = name;
  fFile = nullptr;
  fHead = {};
  fSource = std::move(source);
  ReadHeader();
}

// The header and the extent of the block table are checked here, before any output exists; the
// blocks are checked as they are reached. A file above the format's 2 GiB cannot be valid; only
// its signature is looked at then, so that a file of another kind is named as such.
void TNcwReader::ReadHeader() {
  std::array<uint8_t, kNcwHeaderBytes> image{};  // bytes the file lacks read as zero
  const size_t got = fSource->ReadAt(0, image.data(), image.size());
  Header = TNcwHeader::FromImage(image.data());
  fChecksums = false;
  if (!Header.HasValidSignature()) Refuse("Wrong file signature");
  const uint64_t size = fSource->Size();
  if (size > kMaxNcwFileBytes) Refuse("NCW file is larger than 2 GiB");
  if (got < kNcwHeaderBytes) Refuse("NCW file is cut short (header)");
  // Checked first, so that a damaged header is named as such rather than by what it then says.
  const TChecksumState checksums = ChecksumStateOf(image.data());
  if (checksums == TChecksumState::kHeaderDamaged) Refuse("checksum mismatch (header)");
  if (Header.DataOffset < Header.BlockTableOffset) {
    Refuse("Unsupported NCW file: DataOffset lies before BlockTableOffset");
  }
  const uint64_t entries = (Header.DataOffset - Header.BlockTableOffset) / 4;
  if (uint64_t{Header.BlockTableOffset} + 4 * entries > size) {
    Refuse("NCW file is cut short (block table)");
  }
  if (checksums == TChecksumState::kChecked) {
    CheckTableAndLength(size);
    fChecksums = true;
  }
  CheckChannelsAndSize();
}

// The table's bytes against their CRC, read a piece at a time; and the file must end right
// after its last block.
void TNcwReader::CheckTableAndLength(uint64_t size) const {
  const uint64_t end = uint64_t{Header.DataOffset} + Header.DataSize;
  if (size < end) {
    Refuse("NCW file is cut short (" + std::to_string(end - size) + " bytes missing)");
  }
  if (size > end) {
    Refuse("NCW file has " + std::to_string(size - end) + " bytes after its last block");
  }
  std::array<uint8_t, 16384> piece;
  uint32_t crc = 0;
  for (uint64_t at = Header.BlockTableOffset; at < Header.DataOffset; at += piece.size()) {
    const size_t want =
        static_cast<size_t>(std::min<uint64_t>(piece.size(), Header.DataOffset - at));
    if (fSource->ReadAt(at, piece.data(), want) != want) {
      Refuse("NCW file is cut short (block table)");
    }
    crc = Crc32c(crc, piece.data(), want);
  }
  if (crc != LoadLE<uint32_t>(Header.Reserved.data() + kTableChecksumAt - 32)) {
    Refuse("checksum mismatch (block table)");
  }
}

// What the WAV output can hold decides what is decoded: a frame must fit nBlockAlign's 16 bits
// and the data the RIFF size's 32 bits.
void TNcwReader::CheckChannelsAndSize() const {
  if (!IsContainerWidth(Header.BitsPerSample)) return;  // decodes nothing; saving refuses it
  if (Header.Channels == 0) Refuse("Unsupported NCW file: no channels");
  uint64_t frameBytes = uint64_t{Header.Channels} * Header.BitsPerSample / 8;
  if (frameBytes > kMaxWavFrameBytes) {
    Refuse("Unsupported NCW file: " + std::to_string(Header.Channels) + " channels of " +
           std::to_string(Header.BitsPerSample) + " bits do not fit a WAV frame");
  }
  if (frameBytes * Header.NumSamples > kMaxWavDataBytes) {
    Refuse("Unsupported NCW file: its samples would not fit the 4 GiB of a WAV file");
  }
}

// Decoding stops once NumSamples frames are complete, so later blocks are never read.
size_t TNcwReader::BlocksToDecode() const {
  if (!IsContainerWidth(Header.BitsPerSample) || Header.DataOffset < Header.BlockTableOffset) {
    return 0;
  }
  const uint64_t entries = (Header.DataOffset - Header.BlockTableOffset) / 4;
  if (entries == 0) return 0;
  const uint64_t needed = (uint64_t{Header.NumSamples} + kFramesPerBlock - 1) / kFramesPerBlock;
  return static_cast<size_t>(std::min(entries - 1, needed));
}

uint64_t TNcwReader::DecodedFrames() const {
  return std::min<uint64_t>(Header.NumSamples, uint64_t{BlocksToDecode()} * kFramesPerBlock);
}

}  // namespace tarvix
