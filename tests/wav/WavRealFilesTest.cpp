// The reader against files written by other programs, to files and to pipes (where the writer
// cannot go back to fill in the sizes), and each file through the program there and back.
#include <gtest/gtest.h>

#include "support/Fixtures.h"
#include "support/Sox.h"
#include "support/TempDir.h"
#include "support/WholeFiles.h"
#include "wav/WavReader.h"

namespace tarvix {
namespace {

struct RealCase {
  std::string name;
  std::vector<std::string> programs;  // needed to make the file
  std::string script;  // writes real.wav, and the samples it holds as raw bytes to real.raw
  int bits;
  int channels;
  bool extensible;
  bool piped = false;  // written to a pipe: the sizes are placeholders
};

void PrintTo(const RealCase& c, std::ostream* os) {
  *os << c.name;
}

enum TTarget { kFile, kPipe };

// sox's "repeatable" mode makes the same noise in the WAV file and in the raw reference.
RealCase Sox(const std::string& name, int bits, int channels, const std::string& type,
             TTarget target, bool extensible) {
  const std::string make =
      "sox -R -n -r 22050 -b " + std::to_string(bits) + " -c " + std::to_string(channels);
  const std::string synth = " synth 0.3 sine 220 sine 331 whitenoise vol 0.8";
  const std::string encoding = bits == 8 ? "unsigned-integer" : "signed-integer";
  const std::string wav = target == kPipe ? " -t " + type + " -" + synth + " | cat > real.wav"
                                          : " -t " + type + " real.wav" + synth;
  return {name,
          {"sox"},
          make + wav + " && " + make + " -e " + encoding + " -t raw real.raw" + synth,
          bits,
          channels,
          extensible,
          target == kPipe};
}

// ffmpeg writes the WAV file and the raw reference in one run.
RealCase Ffmpeg(const std::string& name, int bits, int channels, const std::string& options,
                TTarget target, bool extensible) {
  const std::string codec = bits == 8 ? "u8" : "s" + std::to_string(bits) + "le";
  const std::string left = "0.5*sin(2*PI*220*t)+0.2*random(0)";
  const std::string source =
      "aevalsrc=exprs=" + left + (channels == 2 ? "|0.4*sin(2*PI*331*t)" : "") + ":s=22050:d=0.3";
  const std::string wav = target == kPipe ? "-f wav pipe:1" : "real.wav";
  return {name,
          {"ffmpeg"},
          "ffmpeg -v error -y -f lavfi -i '" + source + "' -c:a pcm_" + codec + " " + options +
              " " + wav + " -c:a pcm_" + codec + " -f " + codec + " real.raw" +
              (target == kPipe ? " | cat > real.wav" : ""),
          bits,
          channels,
          extensible,
          target == kPipe};
}

class WavRealFiles : public ::testing::TestWithParam<RealCase> {};

TEST_P(WavRealFiles, ReadsTheSamplesTheWriterMadeAndTheyComeBack) {
  const RealCase& c = GetParam();
  for (const std::string& program : c.programs) {
    if (test::FindProgram(program).empty()) GTEST_SKIP() << program << " is not installed";
  }
  test::TTempDir dir;
  test::TProcessOptions options;
  options.workingDirectory = dir.Path();
  test::TProcessResult made = test::RunProcess("/bin/sh", {"-c", c.script}, options);
  ASSERT_EQ(made.exitCode, 0) << c.script << "\n" << made.err;
  const test::Bytes raw = test::ReadFileBytes(dir / "real.raw");
  ASSERT_FALSE(raw.empty());

  TWavReader wav;
  ASSERT_NO_THROW(wav.Open(dir / "real.wav"));
  EXPECT_EQ(wav.Extensible(), c.extensible);
  TStreamDescription stream = wav.StreamDescription();
  EXPECT_EQ(stream.nChannels, c.channels);
  EXPECT_EQ(stream.wBitsPerSample, c.bits);
  EXPECT_EQ(stream.nSamplesPerSec, 22050u);
  test::Bytes data(size_t{stream.fFrameCount} * wav.FrameBytes());
  ASSERT_NO_THROW(ReadWavData(wav, data.data(), data.size()));
  EXPECT_EQ(data, raw);
  EXPECT_FALSE(wav.CutShort());
  wav.Close();

  EXPECT_EQ(test::RoundTripSamples(dir, "real.wav"), raw);

  // The same file with its last 1000 bytes gone: cut short where its writer stated the sizes; a
  // pipe's placeholders state nothing to be short of.
  test::Bytes cut = test::ReadFileBytes(dir / "real.wav");
  cut.resize(cut.size() - 1000);
  dir.WriteFile("cut.wav", cut);
  TWavReader shortened;
  ASSERT_NO_THROW(shortened.Open(dir / "cut.wav"));
  EXPECT_EQ(shortened.CutShort(), !c.piped);
  if (!c.piped) {
    EXPECT_EQ(shortened.DeclaredFrames(), stream.fFrameCount);
  }
  test::TProcessResult result = test::RunTarvixIn(dir, {"-test", "real.wav", "cut.wav"});
  EXPECT_EQ(result.exitCode, c.piped ? 0 : 1) << result.out;
  EXPECT_EQ(test::Lines(result.out).back(), c.piped ? "2 files: 2 intact, 0 skipped, 0 damaged"
                                                    : "2 files: 1 intact, 0 skipped, 1 damaged");
}

INSTANTIATE_TEST_SUITE_P(
    Writers, WavRealFiles,
    ::testing::Values(
        Sox("sox_8_mono", 8, 1, "wavpcm", kFile, false),
        Sox("sox_8_stereo", 8, 2, "wavpcm", kFile, false),
        Sox("sox_16_mono", 16, 1, "wavpcm", kFile, false),
        Sox("sox_16_stereo", 16, 2, "wavpcm", kFile, false),
        Sox("sox_24_mono", 24, 1, "wavpcm", kFile, false),
        Sox("sox_24_stereo", 24, 2, "wavpcm", kFile, false),
        Sox("sox_24_mono_extensible", 24, 1, "wav", kFile, true),
        Sox("sox_24_stereo_extensible", 24, 2, "wav", kFile, true),
        Sox("sox_32_stereo", 32, 2, "wavpcm", kFile, false),
        Sox("sox_32_mono_extensible", 32, 1, "wav", kFile, true),
        // More than two channels: sox writes the extensible form, with a speaker mask for 4
        // and 6 channels; as plain PCM on request.
        Sox("sox_16_3ch_extensible", 16, 3, "wav", kFile, true),
        Sox("sox_24_4ch_extensible", 24, 4, "wav", kFile, true),
        Sox("sox_8_4ch", 8, 4, "wavpcm", kFile, false),
        Sox("sox_16_6ch_extensible", 16, 6, "wav", kFile, true),
        Sox("sox_32_6ch_extensible", 32, 6, "wav", kFile, true),
        Sox("sox_pipe_24_6ch_extensible", 24, 6, "wav", kPipe, true),
        // Sizes of about 0x7FFFF000; the extensible form adds a fact chunk.
        Sox("sox_pipe_8_mono", 8, 1, "wav", kPipe, false),
        Sox("sox_pipe_16_stereo", 16, 2, "wav", kPipe, false),
        Sox("sox_pipe_24_mono_extensible", 24, 1, "wav", kPipe, true),
        // Sizes of 0xFFFFFFFF and a LIST chunk before the data.
        Ffmpeg("ffmpeg_pipe_8_mono", 8, 1, "", kPipe, false),
        Ffmpeg("ffmpeg_pipe_16_stereo", 16, 2, "", kPipe, false),
        Ffmpeg("ffmpeg_pipe_32_stereo_extensible", 32, 2, "", kPipe, true),
        // A bext chunk of 602 bytes between fmt and LIST; data of odd size with its pad byte.
        Ffmpeg("ffmpeg_bext_8_mono", 8, 1, "-write_bext 1", kFile, false),
        Ffmpeg("ffmpeg_bext_24_stereo_extensible", 24, 2, "-write_bext 1", kFile, true),
        // RF64 with its ds64 chunk, the sizes in it.
        Ffmpeg("ffmpeg_rf64_16_stereo", 16, 2, "-rf64 always", kFile, false),
        Ffmpeg("ffmpeg_rf64_24_mono_extensible", 24, 1, "-rf64 always", kFile, true),
        // Streamed RF64: the ds64 chunk's sizes are zeros.
        Ffmpeg("ffmpeg_pipe_rf64_16_stereo", 16, 2, "-rf64 always", kPipe, false),
        Ffmpeg("ffmpeg_pipe_rf64_8_mono", 8, 1, "-rf64 always", kPipe, false),
        Ffmpeg("ffmpeg_pipe_rf64_24_mono_extensible", 24, 1, "-rf64 always", kPipe, true),
        // A JUNK chunk before fmt, kept free for a larger header.
        Ffmpeg("ffmpeg_junk_16_mono", 16, 1, "-rf64 auto", kFile, false),
        Ffmpeg("ffmpeg_pipe_junk_bext_24_mono", 24, 1, "-rf64 auto -write_bext 1", kPipe, true),
        // espeak-ng to standard output leaves sox's sizes; written to a file, sox reads it.
        RealCase{"espeak_pipe_16_mono",
                 {"espeak-ng", "sox"},
                 "espeak-ng --stdout 'every file a user has' | cat > real.wav && "
                 "espeak-ng -w ref.wav 'every file a user has' && sox ref.wav -t raw real.raw",
                 16,
                 1,
                 false,
                 true}),
    [](const ::testing::TestParamInfo<RealCase>& info) { return info.param.name; });

// Float files of real writers are refused in the two lines of a refused source, saying that they
// hold float samples; the run goes on.
TEST(WavRealFloatFiles, AreRefusedByName) {
  struct Case {
    std::string program;
    std::string script;  // writes real.wav
    std::string reason;
  } cases[] = {
      {"sox", "sox -n -r 22050 -e floating-point -b 32 -c 2 real.wav synth 0.1 sine 220",
       "32-bit float samples are not supported (NCW holds integer PCM)"},
      {"sox", "sox -n -r 22050 -e floating-point -b 64 -c 1 real.wav synth 0.1 sine 220",
       "64-bit float samples are not supported (NCW holds integer PCM)"},
      {"sox", "sox -n -r 22050 -e floating-point -b 32 -c 6 real.wav synth 0.1 sine 220",
       "32-bit float samples are not supported (NCW holds integer PCM)"},
      {"ffmpeg", "ffmpeg -v error -f lavfi -i 'sine=d=0.1' -c:a pcm_f64le -rf64 always real.wav",
       "64-bit float samples are not supported (NCW holds integer PCM)"},
      {"sox", "sox -n -r 22050 -b 16 -c 8 real.wav synth 0.1 sine 220",
       "Only 1 to 6 channels allowed (this file has 8)"},
  };
  if (test::FindProgram("sox").empty()) GTEST_SKIP() << "sox is not installed";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.script);
    if (test::FindProgram(c.program).empty()) continue;  // ffmpeg's case alone
    test::TTempDir dir;
    test::TProcessOptions options;
    options.workingDirectory = dir.Path();
    ASSERT_EQ(test::RunProcess("/bin/sh", {"-c", c.script}, options).exitCode, 0);
    test::WriteWav(dir, "good.wav");
    test::TProcessResult result = test::RunTarvixIn(dir, {"real.wav", "good.wav"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(test::Lines(result.out),
              (std::vector<std::string>{"[1 from 2]  real.wav...",
                                        "  ERROR: real.wav is not a correct WAV file",
                                        "  WAVPARSER: " + c.reason, "[2 from 2]  good.wav...",
                                        "2 files: 1 converted, 0 skipped, 1 refused"}));
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"good.ncw", "good.wav", "real.wav"}));
  }
}

}  // namespace
}  // namespace tarvix
