#include "wav/WavWriter.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <thread>
#include <vector>

#include "platform/Errors.h"
#include "support/Builders.h"
#include "support/Fixtures.h"
#include "wav/WavReader.h"

namespace tarvix {
namespace {

using test::Bytes;

// The file the writer makes of `data`, written in runs of `runFrames` frames, in the order
// `order` gives (each run on a thread of its own when `threads`).
Bytes WriteWav(const TWavFormat& format, const Bytes& data, size_t runFrames = 256,
               bool reversed = false, bool threads = false) {
  TMemorySink sink;
  TWavWriter writer(format, sink);
  const size_t frameBytes = writer.FrameBytes();
  const size_t frames = frameBytes == 0 ? 0 : data.size() / frameBytes;
  std::vector<size_t> firsts;
  for (size_t first = 0; first < frames; first += runFrames) firsts.push_back(first);
  if (reversed) std::reverse(firsts.begin(), firsts.end());
  std::vector<Bytes> runs(firsts.size());
  std::vector<std::thread> writers;
  for (size_t i = 0; i < firsts.size(); ++i) {
    const size_t first = firsts[i];
    const size_t count = std::min(runFrames, frames - first);
    Bytes& run = runs[i];
    run.resize(writer.PrefixBytes(first) + count * frameBytes);
    std::copy_n(data.begin() + static_cast<long>(first * frameBytes), count * frameBytes,
                run.begin() + static_cast<long>(writer.PrefixBytes(first)));
    auto write = [&writer, &run, first, count] { writer.WriteRun(first, run.data(), count); };
    if (threads) {
      writers.emplace_back(write);
    } else {
      write();
    }
  }
  for (std::thread& thread : writers) thread.join();
  writer.Finish(frames);
  return sink.Bytes();
}

TWavFormat Format(uint16_t channels, uint32_t rate, uint16_t bits, size_t dataBytes,
                  bool extensible) {
  const uint32_t frameBytes = channels * bits / 8u;
  return {channels, rate, bits, static_cast<uint32_t>(dataBytes / frameBytes), extensible};
}

TEST(WavWriter, StandardAndExtendedHeadersByteForByte) {
  Bytes second(176400, 0x5A);
  Bytes standard = WriteWav(Format(2, 44100, 16, second.size(), false), second);
  ASSERT_EQ(standard.size(), 176444u);
  Bytes expectedStandard = test::TByteWriter()
                               .Tag("RIFF")
                               .U32(176436)
                               .Tag("WAVE")
                               .Tag("fmt ")
                               .U32(16)
                               .U16(1)
                               .U16(2)
                               .U32(44100)
                               .U32(176400)
                               .U16(4)
                               .U16(16)
                               .Tag("data")
                               .U32(176400)
                               .Result();
  EXPECT_EQ(Bytes(standard.begin(), standard.begin() + 44), expectedStandard);

  Bytes extended = WriteWav(Format(2, 44100, 16, second.size(), true), second);
  ASSERT_EQ(extended.size(), 176468u);
  Bytes expectedExtended = test::TByteWriter()
                               .Tag("RIFF")
                               .U32(176460)
                               .Tag("WAVE")
                               .Tag("fmt ")
                               .U32(40)
                               .U16(0xFFFE)
                               .U16(2)
                               .U32(44100)
                               .U32(176400)
                               .U16(4)
                               .U16(16)
                               .U16(22)
                               .U16(16)
                               .U32(0)
                               .Raw({0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00,
                                     0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71})
                               .Tag("data")
                               .U32(176400)
                               .Result();
  EXPECT_EQ(Bytes(extended.begin(), extended.begin() + 68), expectedExtended);
  EXPECT_EQ(Bytes(extended.begin() + 68, extended.end()), second);
}

TEST(WavWriter, OddDataSizeGetsNoPadByte) {
  Bytes file = WriteWav(Format(1, 8000, 8, 1001, false), Bytes(1001, 0x80));
  ASSERT_EQ(file.size(), 1045u);
  EXPECT_EQ(file[4] | file[5] << 8, 1037);
}

// Runs written in any order, from several threads at once, make the same file.
TEST(WavWriter, RunsInAnyOrderMakeTheSameFile) {
  Bytes data(3 * 1000 * 3);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7 + i / 251);
  const TWavFormat format = Format(3, 48000, 24, data.size(), true);
  const Bytes inOrder = WriteWav(format, data, 100);
  EXPECT_EQ(Bytes(inOrder.begin() + 68, inOrder.end()), data);
  EXPECT_EQ(WriteWav(format, data, 100, /*reversed=*/true), inOrder);
  EXPECT_EQ(WriteWav(format, data, 100, true, /*threads=*/true), inOrder);
}

// Frames no run wrote are zeros, and a file of no runs still gets its header.
TEST(WavWriter, FinishCompletesWhatTheRunsLeft) {
  TMemorySink sink;
  TWavWriter writer({1, 8000, 16, 1000, false}, sink);
  std::vector<uint8_t> run(writer.PrefixBytes(0) + 2 * 100, 0x11);
  writer.WriteRun(0, run.data(), 100);
  writer.Finish(100);
  ASSERT_EQ(sink.Bytes().size(), 44u + 2000);
  EXPECT_EQ(sink.Bytes()[44 + 199], 0x11);
  EXPECT_EQ(Bytes(sink.Bytes().begin() + 44 + 200, sink.Bytes().end()), Bytes(1800, 0));

  TMemorySink empty;
  TWavWriter none({2, 44100, 16, 0, false}, empty);
  none.Finish(0);
  EXPECT_EQ(empty.Bytes().size(), 44u);
  EXPECT_EQ(Bytes(empty.Bytes().begin(), empty.Bytes().begin() + 4), Bytes({'R', 'I', 'F', 'F'}));
}

TEST(WavWriter, ExtremeFormatsStillGetAHeaderWithoutOverflow) {
  // 65535 channels of 65535 bits: the frame size must not overflow on its way to the header.
  TMemorySink sink;
  TWavWriter writer({65535, 0xFFFFFFFF, 65535, 0xFFFFFFFF, false}, sink);
  EXPECT_EQ(writer.HeaderBytes(), 44u);
  EXPECT_EQ(writer.HeaderImage()[22] | writer.HeaderImage()[23] << 8, 65535);
}

TEST(WavWriter, EveryWrittenFileIsAcceptedByTheReader) {
  for (bool extensible : {false, true}) {
    for (uint16_t bits : {8, 16, 24, 32}) {
      for (uint16_t channels : {1, 2, 3, 6}) {
        SCOPED_TRACE(std::to_string(extensible) + "/" + std::to_string(bits) + "/" +
                     std::to_string(channels));
        const Bytes data(static_cast<size_t>(channels * bits / 8) * 77, 0x33);
        const Bytes file = WriteWav(Format(channels, 48000, bits, data.size(), extensible), data);
        TWavReader reader;
        ASSERT_NO_THROW(reader.OpenSource(std::make_unique<TMemorySource>(file), "memory.wav"));
        EXPECT_EQ(reader.FrameCount(), 77u);
        EXPECT_EQ(reader.Extensible(), extensible);
      }
    }
  }
}

TEST(WavWriter, FailuresAreReportedNotSwallowed) {
  TFileSink full("/dev/full");
  TWavWriter writer({1, 8000, 8, 10, false}, full);
  std::vector<uint8_t> run(writer.PrefixBytes(0) + 10);
  try {
    writer.WriteRun(0, run.data(), 10);
    full.Close();
    FAIL() << "a write to a full device was reported as success";
  } catch (const TFileError& error) {
    EXPECT_EQ(error.ErrorNumber(), ENOSPC);
    EXPECT_EQ(error.FileName(), "/dev/full");
  }
}

}  // namespace
}  // namespace tarvix
