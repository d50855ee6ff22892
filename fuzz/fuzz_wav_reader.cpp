// The WAV reader over memory: header parsing, then reading the data chunk into a buffer of
// exactly the size the header asks for, as the conversion job does.
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <string>

#include "platform/FileStream.h"
#include "wav/WavNote.h"
#include "wav/WavReader.h"

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
  Check(wav.OpenSource(std::make_unique<TMemorySource>(input), "input.wav"));
  if (!wav.ParseHeader()) {
    Check(!wav.fErrorText.empty());  // a refusal always says why
    return 0;
  }

  // What a successful parse promises the conversion job.
  const TWavHeader& header = wav.fHeader;
  Check(header.nChannels >= 1 && header.nChannels <= tarvix::kMaxWavChannels);
  Check(header.nBlockAlign != 0 &&
        header.nBlockAlign == uint32_t{header.nChannels} * header.wBitsPerSample / 8);
  Check(wav.fFrameCount == wav.fDataSize / header.nBlockAlign);
  Check(wav.fDataOffset + wav.fDataSize <= size);  // only bytes the input holds
  const tarvix::TStreamDescription stream = wav.StreamDescription();
  Check(stream.nChannels == header.nChannels && stream.wBitsPerSample == header.wBitsPerSample &&
        stream.fFrameCount == wav.fFrameCount);

  // new[] of the exact size, also for 0 bytes, so that ASan sees every byte past the end. The
  // whole frames of the data are there to be read, so ReadData fills all of it.
  const size_t bufferBytes =
      size_t{header.nChannels} * wav.fFrameCount * (header.wBitsPerSample / 8u);
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[bufferBytes]);
  std::memset(buffer.get(), kUntouched, bufferBytes);
  Check(wav.ReadData(buffer.get(), bufferBytes));  // memory never fails to read
  Check(bufferBytes == 0 || std::memcmp(buffer.get(), data + wav.fDataOffset, bufferBytes) == 0);
  wav.CloseFile();

  // The note names what the file holds in visible ASCII only, whatever its bytes: it goes to a
  // terminal.
  const std::string note = tarvix::WavNoteLine("input.wav", wav.fExtras);
  for (char c : note) Check(c >= 0x20 && c < 0x7F);
  Check(wav.fExtras.chunkIds.size() <= tarvix::TWavExtras::kMaxChunkIds);
  return 0;
}
