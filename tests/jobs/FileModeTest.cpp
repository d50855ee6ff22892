// File mode: pairing of sources and outputs, and conversions end to end.
#include "jobs/FileMode.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/CapturedConsole.h"
#include "support/Fixtures.h"
#include "support/ProcessHarness.h"

namespace tarvix {
namespace {

using Names = std::vector<std::string>;
using Pairs = std::vector<std::pair<std::string, std::string>>;

Pairs PairsOf(const std::vector<TWorkItem>& items) {
  Pairs pairs;
  for (const TWorkItem& item : items) pairs.emplace_back(item.source, item.output);
  return pairs;
}

TEST(FilePairing, SourcesTakeTheFollowingOutputNameOrADerivedOne) {
  struct Case {
    Names parameters;
    TConvertDirection direction;
    Pairs pairs;
  } cases[] = {
      {{"PIANO.WAV"}, TConvertDirection::kWavToNcw, {{"PIANO.WAV", "PIANO.ncw"}}},
      {{"P1.WAV", "P2.WAV", "P3.WAV"},
       TConvertDirection::kWavToNcw,
       {{"P1.WAV", "P1.ncw"}, {"P2.WAV", "P2.ncw"}, {"P3.WAV", "P3.ncw"}}},
      {{"KICK.WAV", "NEWKICK.NCW", "SNARE.WAV"},
       TConvertDirection::kWavToNcw,
       {{"KICK.WAV", "NEWKICK.NCW"}, {"SNARE.WAV", "SNARE.ncw"}}},
      {{"KICK.WAV", "NEWKICK.NCW", "SNARE.WAV", "NEWSNARE.NCW"},
       TConvertDirection::kWavToNcw,
       {{"KICK.WAV", "NEWKICK.NCW"}, {"SNARE.WAV", "NEWSNARE.NCW"}}},
      {{"kit/KICK.NCW", "SNARE.NCW", "out/NEW.WAV"},
       TConvertDirection::kNcwToWav,
       {{"kit/KICK.NCW", "kit/KICK.wav"}, {"SNARE.NCW", "out/NEW.WAV"}}},
      {{"A.Wav", "B.NCW"}, TConvertDirection::kWavToNcw, {{"A.Wav", "B.NCW"}}},
      {{"a.wav", "same.ncw", "b.wav", "same.ncw"},
       TConvertDirection::kWavToNcw,
       {{"a.wav", "same.ncw"}, {"b.wav", "same.ncw"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.parameters));
    test::TCapturedConsole console;
    std::vector<TWorkItem> items;
    ASSERT_TRUE(PairFileParameters(c.parameters, c.direction, items, console.Console()));
    EXPECT_EQ(PairsOf(items), c.pairs);
    EXPECT_EQ(console.Text(), "");
  }
}

TEST(FilePairing, AnOutputNameAfterAnOutputNameIsRefused) {
  struct Case {
    Names parameters;
    TConvertDirection direction;
    std::string message;
  } cases[] = {
      {{"KICK.WAV", "A.NCW", "B.NCW"},
       TConvertDirection::kWavToNcw,
       "ERROR: file 'B.NCW' is expected to be '.wav' file"},
      {{"k.ncw", "a.wav", "b.wav", "c.ncw"},
       TConvertDirection::kNcwToWav,
       "ERROR: file 'b.wav' is expected to be '.ncw' file"},
  };
  for (const auto& c : cases) {
    test::TCapturedConsole console;
    std::vector<TWorkItem> items;
    EXPECT_FALSE(PairFileParameters(c.parameters, c.direction, items, console.Console()));
    EXPECT_EQ(console.Text(), c.message + "\n");
  }
}

class FileModeEndToEnd : public ::testing::Test {
 protected:
  test::TProcessResult Run(const std::vector<std::string>& args,
                           test::TProcessOptions options = {}) {
    return test::RunTarvixIn(fDir, args, options);
  }
  test::TTempDir fDir;
};

TEST_F(FileModeEndToEnd, ConvertsBothWaysWithDerivedLowerCaseExtensions) {
  std::string wav = test::WriteWav(fDir, "PIANO.WAV", 24, 2, 96000, 3000);
  test::TProcessResult there = Run({"PIANO.WAV"});
  EXPECT_EQ(there.exitCode, 0);
  EXPECT_EQ(there.out, "[1 from 1]  PIANO.WAV...\n");
  EXPECT_EQ(there.err, "");
  EXPECT_EQ(test::NcwSampleBytes(fDir / "PIANO.ncw"), test::WavSampleBytes(wav));

  test::TProcessResult back = Run({"-whs", "PIANO.ncw", "BACK.WAV"});
  EXPECT_EQ(back.exitCode, 0);
  EXPECT_EQ(test::ReadFileBytes(fDir / "BACK.WAV"), test::ReadFileBytes(wav));
}

TEST_F(FileModeEndToEnd, ExplicitOutputsGoWhereTheySayAndMissingDirectoriesAreMade) {
  test::WriteWav(fDir, "a.wav");
  test::TProcessResult result = Run({"a.wav", "x/y/z/b.ncw"});
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(test::NcwSampleBytes(fDir / "x/y/z/b.ncw"), test::WavSampleBytes(fDir / "a.wav"));
  EXPECT_FALSE(std::filesystem::exists(fDir / "a.ncw"));
}

TEST_F(FileModeEndToEnd, MissingSourcesAreSkippedAndTheRunGoesOn) {
  test::WriteWav(fDir, "a.wav");
  test::WriteWav(fDir, "c.wav");
  test::TProcessResult result = Run({"a.wav", "b.wav", "c.wav"});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(
      test::Lines(result.out),
      (std::vector<std::string>{"[1 from 3]  a.wav...", "[2 from 3]  b.wav...",
                                "  ERROR: 'b.wav' doesn't exist.  skipped", "[3 from 3]  c.wav...",
                                "3 files: 2 converted, 1 skipped, 0 refused"}));
  EXPECT_TRUE(std::filesystem::exists(fDir / "a.ncw"));
  EXPECT_TRUE(std::filesystem::exists(fDir / "c.ncw"));
}

TEST_F(FileModeEndToEnd, ExistingOutputsAreNumberedUnlessRewriteIsAsked) {
  test::WriteWav(fDir, "PIANO.wav", 16, 1, 44100, 800, 1);
  std::string old = fDir.WriteFile("PIANO.ncw", "old");
  EXPECT_EQ(Run({"PIANO.wav"}).exitCode, 0);
  EXPECT_EQ(Run({"PIANO.wav"}).exitCode, 0);
  EXPECT_EQ(test::ReadFileText(old), "old");
  EXPECT_TRUE(std::filesystem::exists(fDir / "PIANO_1.ncw"));
  EXPECT_TRUE(std::filesystem::exists(fDir / "PIANO_2.ncw"));

  EXPECT_EQ(Run({"-rw", "PIANO.wav"}).exitCode, 0);
  EXPECT_EQ(test::NcwSampleBytes(old), test::WavSampleBytes(fDir / "PIANO.wav"));
  EXPECT_FALSE(std::filesystem::exists(fDir / "PIANO_3.ncw"));

  // Only the unnumbered name is tested before numbering starts.
  test::WriteWav(fDir, "DRUM.wav");
  fDir.WriteFile("DRUM_1.ncw", "other");
  EXPECT_EQ(Run({"DRUM.wav"}).exitCode, 0);
  EXPECT_TRUE(std::filesystem::exists(fDir / "DRUM.ncw"));
  // An output name without extension is numbered as a whole.
  fDir.WriteFile("OUT", "x");
  EXPECT_EQ(Run({"DRUM.wav", "OUT.ncw"}).exitCode, 0);
  EXPECT_EQ(Run({"DRUM.wav", "OUT.ncw"}).exitCode, 0);
  EXPECT_TRUE(std::filesystem::exists(fDir / "OUT_1.ncw"));
}

TEST_F(FileModeEndToEnd, PairingErrorsConvertNothing) {
  test::WriteWav(fDir, "KICK.WAV");
  test::TProcessResult result = Run({"KICK.WAV", "A.NCW", "B.NCW"});
  EXPECT_EQ(result.exitCode, 2);
  EXPECT_EQ(result.out, "ERROR: file 'B.NCW' is expected to be '.wav' file\n");
  EXPECT_EQ(fDir.List(), std::vector<std::string>{"KICK.WAV"});
}

TEST_F(FileModeEndToEnd, RefusedWavSourcesPrintTwoLinesAndLeaveNothing) {
  test::TWavImage noData;
  noData.hasDataChunk = false;
  fDir.WriteFile("bad.wav", noData.Build());
  test::TWavImage container20;  // passes the reader, but no sample array has 20-bit slots
  container20.formatTag = 0xFFFE;
  container20.fmtSize = 40;
  container20.channels = 2;
  container20.bitsPerSample = 20;
  container20.validBits = 16;
  container20.data.assign(50, 1);
  fDir.WriteFile("odd.wav", container20.Build());
  test::WriteWav(fDir, "good.wav");
  test::TProcessResult result = Run({"bad.wav", "odd.wav", "good.wav"});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(test::Lines(result.out),
            (std::vector<std::string>{
                "[1 from 3]  bad.wav...", "  ERROR: bad.wav is not a correct WAV file",
                "  WAVPARSER: No data chunk found", "[2 from 3]  odd.wav...",
                "  ERROR: odd.wav is not a correct WAV file",
                "  WAVPARSER: Unsupported container size (8,16,24 and 32 bits allowed)",
                "[3 from 3]  good.wav...", "3 files: 1 converted, 0 skipped, 2 refused"}));
  EXPECT_EQ(fDir.List(), (std::vector<std::string>{"bad.wav", "good.ncw", "good.wav", "odd.wav"}));
}

// A damaged NCW source is refused like a damaged WAV source: the files after it are converted.
TEST_F(FileModeEndToEnd, ADamagedNcwIsRefusedAndTheRunGoesOn) {
  test::WriteWav(fDir, "a.wav");
  ASSERT_EQ(Run({"a.wav"}).exitCode, 0);
  fDir.WriteFile("bad.ncw", "not an ncw file at all");
  test::TProcessResult result = Run({"a.ncw", "bad.ncw", "a2.wav", "a.ncw", "a3.wav"});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(test::Lines(result.out),
            (std::vector<std::string>{
                "[1 from 3]  a.ncw...", "  note: 'a.wav' exists; written as 'a_1.wav'",
                "[2 from 3]  bad.ncw...", "  ERROR: bad.ncw is not a correct NCW file",
                "  NCWPARSER: Wrong file signature", "[3 from 3]  a.ncw...",
                "3 files: 2 converted, 0 skipped, 1 refused; 1 under a "
                "numbered name"}));
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(fDir.List(),
            (std::vector<std::string>{"a.ncw", "a.wav", "a3.wav", "a_1.wav", "bad.ncw"}));
}

TEST_F(FileModeEndToEnd, OutputsGetTheModeOfANormallyCreatedFile) {
  test::WriteWav(fDir, "a.wav");
  for (auto [umask, mode] : {std::pair<mode_t, unsigned>{022, 0644}, {077, 0600}, {002, 0664}}) {
    test::TProcessOptions options;
    options.umask = umask;
    ASSERT_EQ(Run({"-rw", "a.wav"}, options).exitCode, 0);
    EXPECT_EQ(test::PermissionBits(fDir / "a.ncw"), mode) << "umask " << umask;
    ASSERT_EQ(Run({"-rw", "a.ncw"}, options).exitCode, 0);
    EXPECT_EQ(test::PermissionBits(fDir / "a.wav"), mode) << "umask " << umask;
  }
}

}  // namespace
}  // namespace tarvix
