// The WAV reader over memory: header parsing, then reading the data chunk into a buffer of
// exactly the size the header asks for, as the conversion job does.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>

#include "FuzzSupport.h"
#include "platform/FileStream.h"
#include "wav/WAVParser3.h"

using tarvix::TMemorySource;
using tarvix::TWavHeader;
using tarvix::TWavParser;

namespace {

constexpr uint8_t kUntouched = 0x5A;
constexpr size_t kMarkedBytes = 64 * 1024;

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> input(data, size);
  TWavParser wav;
  Check(wav.OpenSource(std::make_unique<TMemorySource>(input), "input.wav"));
  if (!wav.ParseHeader()) {
    Check(!wav.fErrorText.empty());  // a refusal always says why
    return 0;
  }

  // What a successful parse promises the conversion job.
  const TWavHeader& header = wav.fHeader;
  Check(header.nChannels == 1 || header.nChannels == 2);
  Check(header.nBlockAlign != 0 &&
        header.nBlockAlign == uint32_t{header.nChannels} * header.wBitsPerSample / 8);
  Check(wav.fFrameCount == wav.fDataSize / header.nBlockAlign);
  Check(wav.fDataOffset <= size);  // the data chunk's header was read from the input
  const tarvix::TStreamDescription stream = wav.StreamDescription();
  Check(stream.nChannels == header.nChannels && stream.wBitsPerSample == header.wBitsPerSample &&
        stream.fFrameCount == wav.fFrameCount);

  const uint64_t bufferBytes =
      uint64_t{header.nChannels} * wav.fFrameCount * (header.wBitsPerSample / 8u);
  if (bufferBytes > tarvix::fuzz::kMaxClaimedBytes) return 0;
  // The data chunk's bytes as far as the input holds them; the rest of the buffer untouched.
  const size_t copied =
      std::min<uint64_t>({uint64_t{wav.fDataSize}, bufferBytes, uint64_t{size - wav.fDataOffset}});
  // new[] of the exact size, also for 0 bytes, so that ASan sees every byte past the end. Of a
  // large buffer only the stretch after the copied bytes and the end are marked and checked:
  // filling all of it would slow every run that claims much data.
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[bufferBytes]);
  const size_t markedAfter = std::min<size_t>(bufferBytes - copied, kMarkedBytes);
  const size_t tailStart = std::max<size_t>(
      copied + markedAfter, bufferBytes > kMarkedBytes ? bufferBytes - kMarkedBytes : 0);
  const auto mark = [&](size_t from, size_t to) {
    std::memset(buffer.get() + from, kUntouched, to - from);
  };
  const auto untouched = [&](size_t from, size_t to) {
    return std::all_of(buffer.get() + from, buffer.get() + to,
                       [](uint8_t b) { return b == kUntouched; });
  };
  mark(copied, copied + markedAfter);
  mark(tailStart, bufferBytes);
  Check(wav.ReadData(buffer.get(), bufferBytes));  // memory never fails to read
  Check(copied == 0 || std::memcmp(buffer.get(), data + wav.fDataOffset, copied) == 0);
  Check(untouched(copied, copied + markedAfter) && untouched(tailStart, bufferBytes));
  wav.CloseFile();
  return 0;
}
