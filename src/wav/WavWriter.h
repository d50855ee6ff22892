// TWavWriter: a WAV file of integer PCM samples written as a stream of runs of frames, with the
// standard (44-byte) or extended (68-byte) header. Every run's place follows from its first
// frame, so several threads may write different runs at once; run 0 carries the header.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "platform/FileStream.h"

namespace tarvix {

// The longest header the writer makes: the extended one with the data chunk's header.
constexpr size_t kMaxWavHeaderBytes = 68;

struct TWavFormat {
  uint16_t channels = 0;
  uint32_t sampleRate = 0;
  uint16_t bitsPerSample = 0;  // container width
  uint32_t frames = 0;
  bool extensible = false;  // the extended header (WAVE_FORMAT_EXTENSIBLE)
};

class TWavWriter {
 public:
  TWavWriter(const TWavFormat& format, TByteSink& sink);
  TWavWriter(const TWavWriter&) = delete;
  TWavWriter& operator=(const TWavWriter&) = delete;

  size_t HeaderBytes() const { return fHeaderBytes; }
  size_t FrameBytes() const { return fFrameBytes; }
  // The length of the finished file.
  uint64_t FileBytes() const { return fHeaderBytes + fDataBytes; }
  // The header's bytes, the data chunk's identifier and size included.
  const uint8_t* HeaderImage() const { return fHeader.data(); }

  // Room a run starting at `firstFrame` needs in front of its frames: the header's, for run 0.
  size_t PrefixBytes(uint64_t firstFrame) const { return firstFrame == 0 ? fHeaderBytes : 0; }
  // Writes the run at `run`: PrefixBytes(firstFrame) bytes of room (filled in here), then
  // `frames` frames.
  void WriteRun(uint64_t firstFrame, uint8_t* run, size_t frames);
  // After the runs, which wrote the first `framesWritten` frames: a file of no runs gets its
  // header, and the frames after them are zeros.
  void Finish(uint64_t framesWritten);

 private:
  TByteSink& fSink;
  std::array<uint8_t, kMaxWavHeaderBytes> fHeader{};
  size_t fHeaderBytes = 0;
  size_t fFrameBytes = 0;
  uint64_t fDataBytes = 0;
};

}  // namespace tarvix
