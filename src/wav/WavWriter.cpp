#include "wav/WavWriter.h"

#include <cstring>

#include "bits/LittleEndian.h"
#include "wav/WavReader.h"

namespace tarvix {

namespace {

constexpr uint32_t kChunkHeaderBytes = 8;  // identifier, size

// The header fields, in the u32 and u16 arithmetic of the header itself: a format whose sizes
// do not fit still gets a header (the reader refuses such files before they are written).
TWavHeader HeaderOf(const TWavFormat& format, uint32_t dataBytes) {
  TWavHeader header;
  std::memcpy(header.RiffId.data(), "RIFF", 4);
  std::memcpy(header.WaveId.data(), "WAVE", 4);
  std::memcpy(header.FmtId.data(), "fmt ", 4);
  header.wFormatTag = format.extensible ? kWaveFormatExtensible : kWaveFormatPcm;
  header.nChannels = format.channels;
  header.nSamplesPerSec = format.sampleRate;
  header.wBitsPerSample = format.bitsPerSample;
  header.nBlockAlign = static_cast<uint16_t>(uint32_t{format.channels} * format.bitsPerSample / 8);
  header.nAvgBytesPerSec = uint32_t{header.nBlockAlign} * format.sampleRate;
  if (format.extensible) {
    header.RiffSize = dataBytes + 60;
    header.FmtSize = 40;
    header.cbSize = 22;
    header.wValidBitsPerSample = format.bitsPerSample;
    header.dwChannelMask = 0;
    header.SubFormat = kSubtypePcm;
  } else {
    header.RiffSize = dataBytes + 36;  // wraps like the u32 it is
    header.FmtSize = 16;
  }
  return header;
}

}  // namespace

TWavWriter::TWavWriter(const TWavFormat& format, TByteSink& sink) : fSink(sink) {
  fFrameBytes = static_cast<uint16_t>(uint32_t{format.channels} * format.bitsPerSample / 8);
  const uint32_t dataBytes = static_cast<uint32_t>(fFrameBytes) * format.frames;
  fDataBytes = dataBytes;
  const size_t fieldBytes =
      format.extensible ? TWavHeader::kExtendedBytes : TWavHeader::kStandardBytes;
  std::memcpy(fHeader.data(), HeaderOf(format, dataBytes).Image().data(), fieldBytes);
  std::memcpy(fHeader.data() + fieldBytes, "data", 4);
  StoreLE<uint32_t>(fHeader.data() + fieldBytes + 4, dataBytes);
  fHeaderBytes = fieldBytes + kChunkHeaderBytes;
}

void TWavWriter::WriteRun(uint64_t firstFrame, uint8_t* run, size_t frames) {
  const size_t prefix = PrefixBytes(firstFrame);
  std::memcpy(run, fHeader.data(), prefix);
  const uint64_t position = firstFrame == 0 ? 0 : fHeaderBytes + firstFrame * fFrameBytes;
  fSink.WriteAt(position, run, prefix + frames * fFrameBytes);
}

void TWavWriter::Finish(uint64_t framesWritten) {
  if (framesWritten == 0) fSink.WriteAt(0, fHeader.data(), fHeaderBytes);
  // Frames that no run covers are zeros: sparse where the file system allows.
  if (framesWritten * fFrameBytes < fDataBytes) fSink.Resize(fHeaderBytes + fDataBytes);
}

}  // namespace tarvix
