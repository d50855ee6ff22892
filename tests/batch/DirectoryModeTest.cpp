// Directory mode end to end: which files are converted and where their outputs land.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "support/Fixtures.h"
#include "support/ProcessHarness.h"
#include "support/Sox.h"

namespace tarvix {
namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;

class DirectoryModeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::WriteWav(fDir, "In/a.wav", 16, 2, 44100, 600, 1);
    test::WriteWav(fDir, "In/B.WAV", 8, 1, 22050, 700, 2);
    test::WriteWav(fDir, "In/.hidden.wav", 24, 2, 48000, 300, 3);
    test::WriteWav(fDir, "In/Kicks/Soft/k.wav", 16, 1, 44100, 900, 4);
    fDir.MakeDir("In/Empty");
    fDir.MakeDir("In/folder.wav");
    fDir.WriteFile("In/notes.txt", "not a sample");
  }
  test::TProcessResult Run(const std::vector<std::string>& args) {
    return test::RunTarvixIn(fDir, args);
  }
  Names Under(const std::string& folder) {
    Names names;
    for (const std::string& name : fDir.List()) {
      if (name.rfind(folder + "/", 0) == 0) names.push_back(name.substr(folder.size() + 1));
    }
    return names;
  }
  test::TTempDir fDir;
};

TEST_F(DirectoryModeTest, WithoutRecursionOutputsLandNextToTheSources) {
  test::TProcessResult result = Run({"-w2n", "In"});
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(test::Lines(result.out), (Names{"In/.hidden.wav...", "In/B.WAV...", "In/a.wav...",
                                            "3 files: 3 converted, 0 skipped, 0 refused"}));
  EXPECT_EQ(Under("In"),
            (Names{".hidden.ncw", ".hidden.wav", "B.WAV", "B.ncw", "Empty", "Kicks", "Kicks/Soft",
                   "Kicks/Soft/k.wav", "a.ncw", "a.wav", "folder.wav", "notes.txt"}));
  EXPECT_EQ(test::NcwSampleBytes(fDir / "In/B.ncw"), test::WavSampleBytes(fDir / "In/B.WAV"));
}

TEST_F(DirectoryModeTest, RecursionMirrorsTheTreeBelowTheDestination) {
  test::TProcessResult result = Run({"-w2n", "-rec", "In/", "Out"});
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(test::Lines(result.out),
            (Names{"In/.hidden.wav...", "In/B.WAV...", "In/a.wav...", "In/Kicks/Soft/k.wav...",
                   "4 files: 4 converted, 0 skipped, 0 refused"}));
  // Only folders that receive a file are made.
  EXPECT_EQ(Under("Out"),
            (Names{".hidden.ncw", "B.ncw", "Kicks", "Kicks/Soft", "Kicks/Soft/k.ncw", "a.ncw"}));
  // And back again, into a third tree, with the same samples.
  result = Run({"-n2w", "-r", "Out", "Back/"});
  EXPECT_EQ(result.exitCode, 0);
  for (const char* name : {".hidden.wav", "B.wav", "a.wav", "Kicks/Soft/k.wav"}) {
    std::string source = std::string("In/") + (std::string(name) == "B.wav" ? "B.WAV" : name);
    EXPECT_EQ(test::ReadFileBytes(fDir / ("Back/" + std::string(name))),
              test::ReadFileBytes(fDir / source))
        << name;
  }
}

TEST_F(DirectoryModeTest, TrailingDelimiterOrNotGivesTheSameOutputs) {
  ASSERT_EQ(Run({"-w2n", "In", "O1"}).exitCode, 0);
  ASSERT_EQ(Run({"-w2n", "In/", "O2/"}).exitCode, 0);
  EXPECT_EQ(Under("O1"), Under("O2"));
  EXPECT_EQ(Under("O1"), (Names{".hidden.ncw", "B.ncw", "a.ncw"}));
}

TEST_F(DirectoryModeTest, ExistingOutputsAreNumberedAndRewriteReplacesThem) {
  ASSERT_EQ(Run({"-w2n", "In"}).exitCode, 0);
  ASSERT_EQ(Run({"-w2n", "In"}).exitCode, 0);
  EXPECT_TRUE(fs::exists(fDir / "In/a_1.ncw"));
  ASSERT_EQ(Run({"-w2n", "-rw", "In"}).exitCode, 0);
  EXPECT_FALSE(fs::exists(fDir / "In/a_2.ncw"));
}

TEST_F(DirectoryModeTest, NoMatchingFileConvertsNothing) {
  test::TProcessResult result = Run({"-n2w", "In"});
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.out,
            "  note: no .ncw files in 'In'; it holds 3 .wav files (-w2n converts those)\n"
            "0 files: 0 converted, 0 skipped, 0 refused\n");
}

TEST_F(DirectoryModeTest, ALinkLoopEnds) {
  ASSERT_EQ(::symlink("..", (fDir / "In/Kicks/Soft/loop").c_str()), 0);
  test::TProcessResult result = Run({"-w2n", "-rec", "In", "Out"});
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(test::Lines(result.out).size(), 5u);
  EXPECT_EQ(test::Lines(result.out).back(), "4 files: 4 converted, 0 skipped, 0 refused");
}

TEST_F(DirectoryModeTest, RefusedSourcesAreReportedAndTheOthersConverted) {
  fDir.WriteFile("In/broken.wav", "RIFF");
  test::TProcessResult result = Run({"-w2n", "In"});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(test::Lines(result.out),
            (Names{"In/.hidden.wav...", "In/B.WAV...", "In/a.wav...", "In/broken.wav...",
                   "  ERROR: In/broken.wav is not a correct WAV file",
                   "  WAVPARSER: Wrong file size or bad header",
                   "4 files: 3 converted, 0 skipped, 1 refused"}));
}

// A folder tree of real files written by sox, there and back: identical files.
TEST(DirectoryModeRealFiles, TreeOfSoxFilesRoundTripsExactly) {
  if (test::FindProgram("sox").empty()) GTEST_SKIP() << "sox is not installed";
  test::TTempDir dir;
  struct Source {
    const char* name;
    int bits, channels, rate;
  } sources[] = {{"Src/p8m.wav", 8, 1, 22050},
                 {"Src/p16s.wav", 16, 2, 44100},
                 {"Src/Sub/p24m.wav", 24, 1, 48000},
                 {"Src/Sub/p24s.wav", 24, 2, 96000},
                 {"Src/Sub/Deep/p16m.wav", 16, 1, 8000}};
  for (const Source& s : sources) {
    ASSERT_TRUE(test::MakeSoxWav(dir / s.name, s.bits, s.channels, s.rate, 0.4));
  }
  test::TProcessOptions options;
  options.workingDirectory = dir.Path();
  ASSERT_EQ(test::RunTarvix({"-w2n", "-rec", "Src", "Ncw"}, options).exitCode, 0);
  ASSERT_EQ(test::RunTarvix({"-n2w", "-rec", "-whs", "Ncw", "Back"}, options).exitCode, 0);
  for (const Source& s : sources) {
    std::string back = "Back" + std::string(s.name).substr(3);
    EXPECT_EQ(test::ReadFileBytes(dir / back), test::ReadFileBytes(dir / s.name)) << s.name;
  }
}

}  // namespace
}  // namespace tarvix
