// List mode: the list file's validation in its order, and conversions in both directions.
#include "batch/ListMode.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "platform/FileSystem.h"
#include "support/CapturedConsole.h"
#include "support/Fixtures.h"
#include "support/ProcessHarness.h"

namespace tarvix {
namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;

struct RefusedList {
  std::string name;
  std::string text;
  std::string message;
};

TEST(ListValidation, TheFirstFailedCheckIsReported) {
  const std::string kMagic =
      "ERROR: List file must start with '@tarvixlist1' or '@tarvixlist2' (see tarvix -h)";
  const RefusedList cases[] = {
      {"empty", "", "ERROR: List file must include at least two lines"},
      {"blank lines only", " \r\n\t\n\n", "ERROR: List file must include at least two lines"},
      {"no magic", "a.wav\nb.wav", kMagic},
      {"magic in capitals", "@TARVIXLIST1\na.wav", kMagic},
      {"a byte-order mark that does not start the file", "\n\xEF\xBB\xBF@tarvixlist1\na.wav",
       kMagic},
      {"text before the NUL only", std::string("\0@tarvixlist1\na.wav", 19),
       "ERROR: List file must include at least two lines"},
      {"magic alone", "  @tarvixlist2  \n\n",
       "ERROR: List file must include at least one file name"},
      {"a name without extension", "@tarvixlist1\na.wav\nREADME\nc.txt",
       "ERROR: 'README' - filename must have 'wav' or 'ncw' extension"},
      {"a quotation mark at the end", "@tarvixlist1\n\"a.wav\"",
       "ERROR: '\"a.wav\"' - filename must have 'wav' or 'ncw' extension"},
      {"extension before the even count", "@tarvixlist2\na.wav\nb.ncw\nc.mp3",
       "ERROR: 'c.mp3' - filename must have 'wav' or 'ncw' extension"},
      {"odd pair list", "@tarvixlist2\na.wav\nb.ncw\nc.wav",
       "ERROR: file list in '@tarvixlist2' format must have even number of file names"},
      {"output extension in capitals", "@tarvixlist2\na.WAV\nA.NCW",
       "ERROR: 'A.NCW' entry must have '.ncw' extension"},
      {"output of the wrong kind", "@tarvixlist2\na.ncw\nb.wav\nc.ncw\nd.ncw",
       "ERROR: 'd.ncw' entry must have '.wav' extension"},
  };
  for (const RefusedList& c : cases) {
    SCOPED_TRACE(c.name);
    test::TCapturedConsole console;
    std::vector<TWorkItem> items;
    EXPECT_FALSE(BuildListWorkItems(SplitTextLines(c.text), items, console.Console()));
    EXPECT_EQ(console.Text(), c.message + "\n");
  }
}

TEST(ListValidation, BothFormsBuildTheirWorkLists) {
  struct Case {
    std::string text;
    std::vector<std::tuple<std::string, std::string, TConvertDirection>> items;
  } cases[] = {
      {"\n\n @tarvixlist1\r\n\tdir/A.Wav \r\n\r\n k.NCW\nA.Wav",
       {{"dir/A.Wav", "dir/A.ncw", TConvertDirection::kWavToNcw},
        {"k.NCW", "k.wav", TConvertDirection::kNcwToWav},
        {"A.Wav", "A.ncw", TConvertDirection::kWavToNcw}}},
      {"@tarvixlist2\ns/viola n.ncw\nw/viola n.wav\rp.WAV\rout/p.ncw\r",
       {{"s/viola n.ncw", "w/viola n.wav", TConvertDirection::kNcwToWav},
        {"p.WAV", "out/p.ncw", TConvertDirection::kWavToNcw}}},
      {std::string("@tarvixlist1\na.wav\0garbage.txt\n", 30),
       {{"a.wav", "a.ncw", TConvertDirection::kWavToNcw}}},
      {"\xEF\xBB\xBF@tarvixlist2\r\nb.ncw\r\nc.wav\r\n",  // UTF-8 with a byte-order mark
       {{"b.ncw", "c.wav", TConvertDirection::kNcwToWav}}},
  };
  for (const auto& c : cases) {
    test::TCapturedConsole console;
    std::vector<TWorkItem> items;
    ASSERT_TRUE(BuildListWorkItems(SplitTextLines(c.text), items, console.Console()))
        << console.Text();
    ASSERT_EQ(items.size(), c.items.size());
    for (size_t i = 0; i < items.size(); ++i) {
      EXPECT_EQ(items[i].source, std::get<0>(c.items[i]));
      EXPECT_EQ(items[i].output, std::get<1>(c.items[i]));
      EXPECT_EQ(items[i].direction, std::get<2>(c.items[i]));
    }
  }
}

class ListModeEndToEnd : public ::testing::Test {
 protected:
  test::TProcessResult Run(const std::vector<std::string>& args) {
    return test::RunTarvixIn(fDir, args);
  }
  test::TTempDir fDir;
};

TEST_F(ListModeEndToEnd, ConvertsBothDirectionsDuplicatesTwiceAndSkipsMissingOnes) {
  test::WriteWav(fDir, "a.wav", 16, 2, 44100, 1000, 1);
  test::WriteWav(fDir, "w/b.WAV", 24, 1, 48000, 600, 2);
  std::string b = fDir / "w/b.WAV";
  ASSERT_EQ(Run({b, fDir / "c.ncw"}).exitCode, 0);
  fDir.WriteFile("list.txt", "@tarvixlist1\r\na.wav\r\nmissing.wav\r\n  c.ncw\t\r\na.wav\r\n");
  test::TProcessResult result = Run({"-l", "list.txt"});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(test::Lines(result.out),
            (Names{"[1 from 4]  a.wav...", "[2 from 4]  missing.wav...",
                   "  ERROR: 'missing.wav' doesn't exist.  skipped", "[3 from 4]  c.ncw...",
                   "[4 from 4]  a.wav...", "  note: 'a.ncw' exists; written as 'a_1.ncw'",
                   "4 files: 3 converted, 1 skipped, 0 refused; "
                   "1 under a numbered name"}));
  EXPECT_EQ(test::NcwSampleBytes(fDir / "a.ncw"), test::WavSampleBytes(fDir / "a.wav"));
  EXPECT_EQ(test::NcwSampleBytes(fDir / "a_1.ncw"), test::WavSampleBytes(fDir / "a.wav"));
  EXPECT_EQ(test::ReadFileBytes(fDir / "c.wav"), test::ReadFileBytes(b));
}

TEST_F(ListModeEndToEnd, PairListsWriteWhereTheySayAndEarlierOutputsCanBeLaterSources) {
  test::WriteWav(fDir, "a.wav");
  fDir.WriteFile("pairs.lst", "@tarvixlist2\na.wav\nout/x.ncw\nout/x.ncw\nback/a.wav\n");
  test::TProcessResult result = Run({"-l", "pairs.lst"});
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(test::ReadFileBytes(fDir / "back/a.wav"), test::ReadFileBytes(fDir / "a.wav"));
}

// The README's recipe for a list of every WAV file below a folder.
TEST_F(ListModeEndToEnd, AListMadeWithFindConvertsEveryWavFileBelowTheFolder) {
  const Names wavs{"Kit/KICK.WAV", "Kit/Toms/tom 1.wav", "Kit/snare.wav"};
  for (const std::string& wav : wavs) test::WriteWav(fDir, wav);
  fDir.WriteFile("Kit/notes.txt", "not a sample");
  test::TProcessOptions options;
  options.workingDirectory = fDir.Path();
  const test::TProcessResult find = test::RunProcess(
      "/bin/sh", {"-c", "{ echo @tarvixlist1; find Kit -type f -iname '*.wav' | sort; } > kit.txt"},
      options);
  ASSERT_EQ(find.exitCode, 0) << find.err;
  const test::TProcessResult result = Run({"-l", "kit.txt"});
  EXPECT_EQ(result.exitCode, 0) << result.out;
  EXPECT_EQ(test::Lines(result.out).back(), "3 files: 3 converted, 0 skipped, 0 refused");
  for (const std::string& wav : wavs) {
    const std::string ncw = wav.substr(0, wav.size() - 4) + ".ncw";
    EXPECT_EQ(test::NcwSampleBytes(fDir / ncw), test::WavSampleBytes(fDir / wav)) << ncw;
  }
}

TEST_F(ListModeEndToEnd, ARefusedListConvertsNothingAndExitsWithTwo) {
  test::WriteWav(fDir, "a.wav");
  fDir.WriteFile("pairs.lst", "@tarvixlist2\na.wav\nx.ncw\na.wav\ny.NCW\n");
  test::TProcessResult result = Run({"-l", "pairs.lst"});
  EXPECT_EQ(result.exitCode, 2);
  EXPECT_EQ(result.out, "ERROR: 'y.NCW' entry must have '.ncw' extension\n");
  EXPECT_EQ(fDir.List(), (Names{"a.wav", "pairs.lst"}));
}

TEST_F(ListModeEndToEnd, AListFileThatCannotBeReadEndsTheRun) {
  // A FIFO exists and is no directory, but reading it would wait for a writer forever.
  ASSERT_EQ(::mkfifo((fDir / "list.txt").c_str(), 0600), 0);
  test::TProcessResult result = Run({"-l", "list.txt"});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.err, "ERROR: Error while opening the file: 'list.txt' (not a regular file)\n");
}

}  // namespace
}  // namespace tarvix
