#include "ncw/NCWParser3.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <span>

#include "platform/Errors.h"
#include "platform/FileStream.h"

namespace tarvix {

namespace {

constexpr size_t kWavPieceBytes = 1024;         // the writer takes the samples in these pieces
constexpr uint64_t kMaxWavFrameBytes = 0xFFFF;  // nBlockAlign is 16 bits
constexpr uint64_t kMaxWavDataBytes = 0xFFFFFFFFull - 60;  // RIFF size is 32 bits

}  // namespace

template <>
TSampleArray<TSample8>& TNCWParser::SamplesOf<TSample8>() {
  return Samples8;
}
template <>
TSampleArray<TSample16>& TNCWParser::SamplesOf<TSample16>() {
  return Samples16;
}
template <>
TSampleArray<TSample24>& TNCWParser::SamplesOf<TSample24>() {
  return Samples24;
}
template <>
TSampleArray<TSample32>& TNCWParser::SamplesOf<TSample32>() {
  return Samples32;
}

TNCWParser::~TNCWParser() {
  Clear();
}

void TNCWParser::Close() {
  fInputMapping = TFileMapping();
  fInputCopy = TFileMemory();
  fInput = nullptr;
  fInputSize = 0;
  BlockTable.clear();
  BlockTable.shrink_to_fit();
}

void TNCWParser::Clear() {
  Close();
  Samples8.Release();
  Samples16.Release();
  Samples24.Release();
  Samples32.Release();
  EncodedData.reset();
}

void TNCWParser::Refuse(const std::string& message) const {
  throw TError(message, fFileName);
}

void TNCWParser::Open(const std::string& fileName) {
  fFileName = fileName;
  try {
    TFileSource file(fileName);
    MapInput(file);
  } catch (const TFileError& error) {
    if (error.CannotOpen() || error.Message() == "Error while opening the file") {
      throw TFileError("Can't open file", fileName, error.Reason(), true);
    }
    throw;
  }
  ReadHeaderAndTable();
}

void TNCWParser::OpenBytes(const uint8_t* bytes, size_t size, const std::string& name) {
  fFileName = name;
  fInputCopy = TFileMemory(size);
  if (size != 0) std::memcpy(fInputCopy.Data(), bytes, size);
  fInput = fInputCopy.Data();
  fInputSize = size;
  ReadHeaderAndTable();
}

// The whole file is mapped into memory. A file above the format's 2 GiB cannot be valid; only
// its signature is looked at then, so that a file of another kind is named as such.
void TNCWParser::MapInput(const TFileSource& file) {
  fInputMapping = file.Map();
  fInput = fInputMapping.Data();
  fInputSize = fInputMapping.Size();
  if (fInputSize > kMaxNcwFileBytes) {
    Header = TNcwHeader::FromImage(std::array<uint8_t, kNcwHeaderBytes>{}.data());
    std::memcpy(Header.Signature.data(), fInput, Header.Signature.size());
    if (!Header.HasValidSignature()) Refuse("Wrong file signature");
    Refuse("NCW file is larger than 2 GiB");
  }
}

void TNCWParser::ReadHeaderAndTable() {
  std::array<uint8_t, kNcwHeaderBytes> image{};  // bytes the file lacks read as zero
  if (fInputSize != 0)
    std::memcpy(image.data(), fInput, std::min<size_t>(fInputSize, image.size()));
  Header = TNcwHeader::FromImage(image.data());
  if (!Header.HasValidSignature()) Refuse("Wrong file signature");
  if (fInputSize < kNcwHeaderBytes) Refuse("NCW file is cut short (header)");
  if (Header.DataOffset < Header.BlockTableOffset) {
    Refuse("Unsupported NCW file: DataOffset lies before BlockTableOffset");
  }
  uint64_t entries = (Header.DataOffset - Header.BlockTableOffset) / 4;
  if (uint64_t{Header.BlockTableOffset} + 4 * entries > fInputSize) {
    Refuse("NCW file is cut short (block table)");
  }
  BlockTable.resize(entries);
  const uint8_t* table = fInput + Header.BlockTableOffset;
  for (size_t k = 0; k < entries; ++k) {
    const uint8_t* p = table + 4 * k;
    BlockTable[k] = static_cast<int32_t>(uint32_t{p[0]} | uint32_t{p[1]} << 8 |
                                         uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24);
  }
  CheckChannelsAndSize();
}

// What the WAV output can hold decides what is decoded: a frame must fit nBlockAlign's 16 bits
// and the data the RIFF size's 32 bits.
void TNCWParser::CheckChannelsAndSize() const {
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

void TNCWParser::SaveToWav(const std::string& fileName) const {
  SaveWav(fileName, kWaveFormatPcm);
}

void TNCWParser::SaveToWavExt(const std::string& fileName) const {
  SaveWav(fileName, kWaveFormatExtensible);
}

void TNCWParser::SaveWav(const std::string& fileName, uint16_t formatTag) const {
  TWavParser wav;
  wav.fHeader.wFormatTag = formatTag;
  wav.fHeader.nChannels = Header.Channels;
  wav.fHeader.nSamplesPerSec = Header.SampleRate;
  wav.fHeader.wBitsPerSample = Header.BitsPerSample;
  // Unsigned 32-bit arithmetic, kept to the header's widths: a width the decoder refuses
  // still gets a header before it is refused.
  const uint32_t frameBytes = uint32_t{Header.Channels} * Header.BitsPerSample / 8;
  wav.fHeader.nBlockAlign = static_cast<uint16_t>(frameBytes);
  wav.fHeader.nAvgBytesPerSec = uint32_t{wav.fHeader.nBlockAlign} * Header.SampleRate;
  wav.fDataSize = uint32_t{wav.fHeader.nBlockAlign} * Header.NumSamples;
  if (!wav.CreateOutputFile(fileName)) throw TError(wav.fErrorMessage, fileName, wav.fErrorReason);

  std::span<const uint8_t> samples;
  switch (Header.BitsPerSample) {
    case 8:
      samples = {Samples8.Bytes(), Samples8.ByteSize()};
      break;
    case 16:
      samples = {Samples16.Bytes(), Samples16.ByteSize()};
      break;
    case 24:
      samples = {Samples24.Bytes(), Samples24.ByteSize()};
      break;
    case 32:
      samples = {Samples32.Bytes(), Samples32.ByteSize()};
      break;
    default:
      wav.CloseFile();  // the output holds its header only; the caller removes it
      throw TError("NCWPARSER.SaveToWav: Unsupported BitsPerSample", fFileName);
  }
  size_t total = std::min<size_t>(wav.fDataSize, samples.size());
  for (size_t done = 0; done < total; done += kWavPieceBytes) {
    wav.WriteData(samples.data() + done,
                  static_cast<int32_t>(std::min(kWavPieceBytes, total - done)));
  }
  wav.CloseFile();
}

void TNCWParser::SaveToNcw(const std::string& fileName) const {
  if (!EncodedData) throw TError("Nothing was encoded to save", fileName);
  TFileSink file(fileName);
  file.Write(Header.Image().data(), kNcwHeaderBytes);
  // The entries are little-endian in memory already (SampleContainers.h insists on it).
  file.Write(BlockTable.data(), 4 * BlockTable.size());
  file.Write(EncodedData->Data(), EncodedData->Size());
  file.Close();
}

}  // namespace tarvix
