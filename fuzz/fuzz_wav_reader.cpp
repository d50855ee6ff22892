// The WAV reader over memory: header parsing, then reading the data chunk into a buffer of
// exactly the size the header asks for, as the conversion job does.
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <string>

#include "platform/Errors.h"
#include "platform/FileStream.h"
#include "support/WholeFiles.h"
#include "wav/WavNote.h"
#include "wav/WavReader.h"

using tarvix::TError;
using tarvix::TMemorySource;
using tarvix::TWavHeader;
using tarvix::TWavReader;

namespace {

constexpr uint8_t kUntouched = 0x5A;

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> input(data, size);
  TWavReader wav;
  try {
    wav.OpenSource(std::make_unique<TMemorySource>(input), "input.wav");
  } catch (const TError& error) {
    // A refusal always says why, and blames what the file holds: memory never fails to read.
    Check(!error.Message().empty() && error.Fault() == tarvix::TFault::kSource);
    return 0;
  }

  // What a successful parse promises the conversion job.
  const TWavHeader& header = wav.Header();
  Check(header.nChannels >= 1 && header.nChannels <= tarvix::kMaxWavChannels);
  Check(header.nBlockAlign != 0 &&
        header.nBlockAlign == uint32_t{header.nChannels} * header.wBitsPerSample / 8);
  Check(wav.FrameBytes() == header.nBlockAlign);
  Check(wav.FrameCount() == wav.DataSize() / header.nBlockAlign);
  Check(wav.DataOffset() + wav.DataSize() <= size);  // only bytes the input holds
  const tarvix::TStreamDescription stream = wav.StreamDescription();
  Check(stream.nChannels == header.nChannels && stream.wBitsPerSample == header.wBitsPerSample &&
        stream.fFrameCount == wav.FrameCount());

  // new[] of the exact size, also for 0 bytes, so that ASan sees every byte past the end. The
  // whole frames of the data are there to be read, so ReadWavData fills all of it.
  const size_t bufferBytes =
      size_t{header.nChannels} * wav.FrameCount() * (header.wBitsPerSample / 8u);
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[bufferBytes]);
  std::memset(buffer.get(), kUntouched, bufferBytes);
  try {
    tarvix::ReadWavData(wav, buffer.get(), bufferBytes);
  } catch (const TError&) {
    __builtin_trap();  // memory never fails to read
  }
  Check(bufferBytes == 0 || std::memcmp(buffer.get(), data + wav.DataOffset(), bufferBytes) == 0);

  // The note names what the file holds in visible ASCII only, whatever its bytes: it goes to a
  // terminal.
  const std::string note = tarvix::WavNoteLine("input.wav", wav.Extras());
  for (char c : note) Check(c >= 0x20 && c < 0x7F);
  Check(wav.Extras().chunkIds.size() <= tarvix::TWavExtras::kMaxChunkIds);
  wav.Close();
  return 0;
}
