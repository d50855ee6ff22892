// -test: every source read through, nothing written; the count says what was found. And WAV
// files cut short, which a conversion takes with a warning and -test counts as damaged.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/Fixtures.h"
#include "support/ProcessHarness.h"

namespace tarvix {
namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;

// A library of NCW files with and without checksums, one damaged, and WAV files, one cut short.
class SourceCheck : public ::testing::Test {
 protected:
  void SetUp() override {
    test::WriteWav(fDir, "Lib/a.wav", 16, 2, 44100, 3000);
    test::WriteWav(fDir, "Lib/Sub/b.wav", 24, 6, 48000, 2000);
    test::WriteWav(fDir, "Lib/c.wav", 8, 1, 22050, 700);
    ASSERT_EQ(test::RunTarvixIn(fDir, {"-crc", "-rec", "-w2n", "Lib"}).exitCode, 0);
    ASSERT_EQ(test::RunTarvixIn(fDir, {"Lib/c.wav", "Lib/plain.ncw"}).exitCode, 0);
    test::Bytes damaged = test::ReadFileBytes(fDir / "Lib/Sub/b.ncw");
    damaged[damaged.size() - 100] ^= 0x01;
    fDir.WriteFile("Lib/Sub/b.ncw", damaged);
    test::Bytes wav = test::ReadFileBytes(fDir / "Lib/a.wav");
    wav.resize(wav.size() - 4 * 1000 - 2);  // 1000 frames and half of one gone
    fDir.WriteFile("Lib/cut.wav", wav);
  }

  test::TTempDir fDir;
};

const std::string kDamagedB = "  ERROR: Lib/Sub/b.ncw is not a correct NCW file";
const std::string kCut = "  WARNING: 'Lib/cut.wav' is cut short: 1999 of 3000 frames are there";

TEST_F(SourceCheck, ReadsEverySourceWritesNothingAndCountsWhatItFound) {
  struct Case {
    std::vector<std::string> args;
    Names lines;  // without the damaged file's reason
    int status;
  };
  fDir.WriteFile("list.txt", "@tarvixlist1\nLib/a.ncw\nLib/missing.ncw\nLib/a.wav\n");
  fDir.WriteFile("good.txt", "@tarvixlist1\nLib/a.ncw\nLib/a.wav\nLib/plain.ncw\n");
  // clang-format off
  const Case cases[] = {
      {{"-test", "-n2w", "-rec", "Lib"},
       {"Lib/a.ncw...", "Lib/c.ncw...", "Lib/plain.ncw...", "Lib/Sub/b.ncw...", kDamagedB, "",
        "4 files: 3 intact, 0 skipped, 1 damaged; 1 without checksums"}, 1},
      {{"-test", "-w2n", "Lib", "Elsewhere"},
       {"Lib/a.wav...", "Lib/c.wav...", "Lib/cut.wav...", kCut,
        "3 files: 2 intact, 0 skipped, 1 damaged"}, 1},
      {{"-test", "-l", "list.txt"},
       {"[1 from 3]  Lib/a.ncw...", "[2 from 3]  Lib/missing.ncw...",
        "  ERROR: 'Lib/missing.ncw' doesn't exist.  skipped", "[3 from 3]  Lib/a.wav...",
        "3 files: 2 intact, 1 skipped, 0 damaged"}, 1},
      {{"-test", "-l", "good.txt"},
       {"[1 from 3]  Lib/a.ncw...", "[2 from 3]  Lib/a.wav...", "[3 from 3]  Lib/plain.ncw...",
        "3 files: 3 intact, 0 skipped, 0 damaged; 1 without checksums"}, 0},
      {{"-test", "Lib/a.ncw", "Lib/c.ncw"},
       {"[1 from 2]  Lib/a.ncw...", "[2 from 2]  Lib/c.ncw...",
        "2 files: 2 intact, 0 skipped, 0 damaged"}, 0},
      {{"-test", "Lib/cut.wav"}, {"[1 from 1]  Lib/cut.wav...", kCut}, 1},
  };
  // clang-format on
  const Names before = fDir.List();
  for (const Case& c : cases) {
    for (const std::string threads : {"-j1", "-j4"}) {
      SCOPED_TRACE(testing::PrintToString(c.args) + threads);
      std::vector<std::string> args = {threads};
      args.insert(args.end(), c.args.begin(), c.args.end());
      test::TProcessResult result = test::RunTarvixIn(fDir, args);
      EXPECT_EQ(result.exitCode, c.status) << result.err;
      Names lines = test::Lines(result.out);
      for (size_t i = 0; i < lines.size() && i < c.lines.size(); ++i) {
        if (c.lines[i].empty()) {
          EXPECT_TRUE(lines[i].starts_with("  NCWPARSER: checksum mismatch (block ")) << lines[i];
          lines[i].clear();
        }
      }
      EXPECT_EQ(lines, c.lines);
      EXPECT_EQ(fDir.List(), before);  // no output, no temporary file, no folder
    }
  }
}

// The conversion of the same sources prints the same lines for what -test finds damaged; a WAV
// file cut short is converted as far as it goes, with the warning, and fails the run.
TEST_F(SourceCheck, ConversionsFindTheSameAndConvertWhatIsCutShortWithAWarning) {
  test::TProcessResult result = test::RunTarvixIn(fDir, {"-n2w", "-rec", "Lib", "Out"});
  EXPECT_EQ(result.exitCode, 1);
  Names lines = test::Lines(result.out);
  ASSERT_EQ(lines.size(), 7u) << result.out;
  EXPECT_EQ(lines[4], kDamagedB);
  EXPECT_EQ(lines[6], "4 files: 3 converted, 0 skipped, 1 refused");
  EXPECT_FALSE(fs::exists(fDir / "Out/Sub/b.wav"));
  EXPECT_EQ(test::WavSampleBytes(fDir / "Out/a.wav"), test::WavSampleBytes(fDir / "Lib/a.wav"));

  result = test::RunTarvixIn(fDir, {"Lib/cut.wav", "Lib/c.wav", "Lib/c2.ncw"});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(test::Lines(result.out),
            (Names{"[1 from 2]  Lib/cut.wav...", kCut, "[2 from 2]  Lib/c.wav...",
                   "2 files: 2 converted, 0 skipped, 0 refused; 1 cut short"}));
  const test::Bytes whole = test::WavSampleBytes(fDir / "Lib/a.wav");
  EXPECT_EQ(test::NcwSampleBytes(fDir / "Lib/cut.ncw"),
            test::Bytes(whole.begin(), whole.begin() + 1999 * 4));
}

}  // namespace
}  // namespace tarvix
