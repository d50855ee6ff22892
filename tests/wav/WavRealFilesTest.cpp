// The reader against files written by other programs, to files and to pipes (where the writer
// cannot go back to fill in the sizes), and each file through the program there and back.
#include <gtest/gtest.h>

#include "support/Fixtures.h"
#include "support/Sox.h"
#include "support/TempDir.h"
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
  return {
      name, {"sox"},  make + wav + " && " + make + " -e " + encoding + " -t raw real.raw" + synth,
      bits, channels, extensible};
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
          extensible};
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

  TWavParser wav;
  ASSERT_TRUE(wav.OpenFile(dir / "real.wav"));
  ASSERT_TRUE(wav.ParseHeader()) << wav.fErrorText;
  EXPECT_EQ(wav.fExtensible, c.extensible);
  TStreamDescription stream = wav.StreamDescription();
  EXPECT_EQ(stream.nChannels, c.channels);
  EXPECT_EQ(stream.wBitsPerSample, c.bits);
  EXPECT_EQ(stream.nSamplesPerSec, 22050u);
  test::Bytes data(size_t{stream.fFrameCount} * wav.fHeader.nBlockAlign);
  ASSERT_TRUE(wav.ReadData(data.data(), data.size()));
  EXPECT_EQ(data, raw);
  wav.CloseFile();

  EXPECT_EQ(test::RoundTripSamples(dir, "real.wav"), raw);
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
                 false}),
    [](const ::testing::TestParamInfo<RealCase>& info) { return info.param.name; });

}  // namespace
}  // namespace tarvix
