// "-" as the source (standard input) or the output (standard output), between sox and ffmpeg
// and the program, in both directions: every sample arrives, messages go where they do not mix
// with the data, and the spool files are gone afterwards.
#include <gtest/gtest.h>

#include "support/Fixtures.h"
#include "support/ProcessHarness.h"
#include "support/Sox.h"
#include "support/TempDir.h"

namespace tarvix {
namespace {

struct PipeCase {
  std::string name;
  std::vector<std::string> programs;  // besides tarvix
  std::string make;                   // makes ref.raw (the samples) and anything the pipe reads
  std::string pipe;                   // the pipeline; "tarvix" stands for the program under test
  std::string output;                 // the file whose samples must equal ref.raw
  bool outputIsNcw;
  bool dataOnStdout;     // the program's standard output carries the data: messages on stderr
  std::string raw = {};  // turns `output` into back.raw with another program; else read here
};

void PrintTo(const PipeCase& c, std::ostream* os) {
  *os << c.name;
}

constexpr const char* kSoxSynth = " synth 1.3 sine 300 sine 701 whitenoise vol 0.5";
const std::string kSox16 = "sox -R -n -r 44100 -b 16 -c 2 ";
const std::string kFfmpeg = "ffmpeg -nostdin -loglevel error -y ";
const std::string kLavfi = "-f lavfi -i sine=frequency=440:duration=1.2:sample_rate=48000 -ac 2 ";

class PipeEndToEnd : public ::testing::TestWithParam<PipeCase> {};

std::string Quoted(const std::string& text) {
  return "'" + text + "'";
}

TEST_P(PipeEndToEnd, EverySampleArrivesAndNothingIsLeftBehind) {
  const PipeCase& c = GetParam();
  for (const std::string& program : c.programs) {
    if (test::FindProgram(program).empty()) GTEST_SKIP() << program << " is not installed";
  }
  test::TTempDir dir;
  test::TTempDir spool;  // TMPDIR of the program: where its spool files go
  test::WriteWav(dir, "in.wav", 16, 2, 44100, 70000);
  auto expand = [&](std::string command) {
    for (size_t at; (at = command.find("tarvix ")) != std::string::npos;) {
      command.replace(at, 6, Quoted(test::TarvixBinary()));
    }
    return command;
  };
  test::TProcessOptions options;
  options.workingDirectory = dir.Path();
  options.environment = {{"TMPDIR", spool.Path()}};
  auto sh = [&](const std::string& command) {
    return test::RunProcess("/bin/sh", {"-c", "set -e; " + expand(command)}, options);
  };
  const test::TProcessResult made = sh(c.make);
  ASSERT_EQ(made.exitCode, 0) << made.err;
  const test::TProcessResult piped = sh(c.pipe);
  ASSERT_EQ(piped.exitCode, 0) << piped.out << piped.err;
  // Where standard output carries the data, every message went to standard error.
  EXPECT_NE((c.dataOnStdout ? piped.err : piped.out).find("[1 from 1]  "), std::string::npos)
      << piped.out << piped.err;
  if (c.dataOnStdout) {
    EXPECT_EQ(piped.out, "");
  }
  test::Bytes samples;
  if (!c.raw.empty()) {
    const test::TProcessResult back = sh(c.raw);
    ASSERT_EQ(back.exitCode, 0) << back.err;
    samples = test::ReadFileBytes(dir / "back.raw");
  } else {
    samples =
        c.outputIsNcw ? test::NcwSampleBytes(dir / c.output) : test::WavSampleBytes(dir / c.output);
  }
  // Made by the writing program, or the samples of in.wav as this test wrote them.
  const test::Bytes reference = c.make.find("ref.raw") != std::string::npos
                                    ? test::ReadFileBytes(dir / "ref.raw")
                                    : test::WavSampleBytes(dir / "in.wav");
  ASSERT_GT(reference.size(), 100000u);
  EXPECT_TRUE(samples == reference) << samples.size() << " bytes against " << reference.size();
  EXPECT_EQ(spool.List(), std::vector<std::string>{});
  EXPECT_EQ(test::LeftoverTempFiles(dir), std::vector<std::string>{});
}

// in.wav as NCW, made by the program itself.
const std::string kInNcw = "tarvix in.wav in.ncw 2>/dev/null";

INSTANTIATE_TEST_SUITE_P(
    SoxAndFfmpeg, PipeEndToEnd,
    ::testing::Values(
        // sox writes a WAV stream whose sizes it cannot fill in.
        PipeCase{"sox_to_ncw",
                 {"sox"},
                 kSox16 + "-t raw ref.raw" + kSoxSynth,
                 kSox16 + "-t wav -" + kSoxSynth + " | tarvix - out.ncw",
                 "out.ncw",
                 true,
                 false},
        PipeCase{"sox_24bit_to_ncw_both_named_by_flag",
                 {"sox"},
                 "sox -R -n -r 96000 -b 24 -c 1 -t raw ref.raw" + std::string(kSoxSynth),
                 "sox -R -n -r 96000 -b 24 -c 1 -t wav -" + std::string(kSoxSynth) +
                     " | tarvix -w2n - - > out.ncw",
                 "out.ncw",
                 true,
                 true},
        PipeCase{"ffmpeg_to_ncw",
                 {"ffmpeg"},
                 kFfmpeg + kLavfi + "-f s16le ref.raw",
                 kFfmpeg + kLavfi + "-c:a pcm_s16le -f wav - | tarvix - out.ncw",
                 "out.ncw",
                 true,
                 false},
        PipeCase{"ncw_to_sox",
                 {"sox"},
                 kInNcw,
                 "tarvix in.ncw - | sox -t wav - out.flac",
                 "out.flac",
                 false,
                 true,
                 "sox out.flac -t raw back.raw"},
        PipeCase{"ncw_to_ffmpeg",
                 {"ffmpeg"},
                 kInNcw,
                 "tarvix -whe in.ncw - | " + kFfmpeg + "-f wav -i - -c:a flac out.flac",
                 "out.flac",
                 false,
                 true,
                 kFfmpeg + "-i out.flac -f s16le back.raw"},
        // Both ends pipes: WAV in, NCW through, WAV out; the NCW stream needs its table first.
        PipeCase{"through_ncw_both_ways",
                 {},
                 "true",
                 "cat in.wav | tarvix -w2n - - | tarvix -n2w - - > out.wav",
                 "out.wav",
                 false,
                 true},
        PipeCase{"ncw_to_wav_file_from_stdin",
                 {},
                 kInNcw,
                 "tarvix - out.wav < in.ncw",
                 "out.wav",
                 false,
                 false}),
    [](const auto& info) { return info.param.name; });

TEST(PipeEndToEndRefusals, VerifyOfStandardOutputAndAnEmptyStreamAreRefused) {
  test::TTempDir dir;
  test::WriteWav(dir, "in.wav");
  test::TProcessOptions options;
  options.workingDirectory = dir.Path();
  const test::TProcessResult verify = test::RunTarvix({"-verify", "in.wav", "-"}, options);
  EXPECT_EQ(verify.exitCode, 2);
  EXPECT_EQ(verify.out,
            "ERROR: -verify reads an output file back; standard output ('-') can't be read "
            "back\n");
  // Standard input is /dev/null here: no WAV file at all.
  const test::TProcessResult empty = test::RunTarvix({"-", "out.ncw"}, options);
  EXPECT_EQ(empty.exitCode, 1);
  EXPECT_EQ(test::Lines(empty.out),
            (std::vector<std::string>{"[1 from 1]  -...", "  ERROR: - is not a correct WAV file",
                                      "  WAVPARSER: Wrong format or bad file header (RIFF)"}));
  EXPECT_EQ(dir.List(), std::vector<std::string>{"in.wav"});
}

}  // namespace
}  // namespace tarvix
