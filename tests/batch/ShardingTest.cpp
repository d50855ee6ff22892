// Sharding a list for several machines: tools/tarvix-split-list, and the README's recipe run
// locally with GNU parallel.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "support/Fixtures.h"
#include "support/NcwCodec.h"
#include "support/ProcessHarness.h"
#include "support/Sox.h"

namespace tarvix {
namespace {

using Names = std::vector<std::string>;

test::TProcessOptions In(const test::TTempDir& dir) {
  test::TProcessOptions options;
  options.workingDirectory = dir.Path();
  return options;
}

test::TProcessResult Split(const test::TTempDir& dir, const std::string& list,
                           const std::string& shards, const std::string& prefix) {
  return test::RunProcess(TARVIX_SPLIT_LIST_PATH, {list, shards, prefix}, In(dir));
}

// GNU parallel on PATH; another program of that name (moreutils has one) does not count.
bool HaveGnuParallel() {
  const std::string path = test::FindProgram("parallel");
  return !path.empty() &&
         test::RunProcess(path, {"--version"}).out.find("GNU parallel") != std::string::npos;
}

// The README's recipe, with the program under test first on PATH as `tarvix`.
test::TProcessResult RunShards(const test::TTempDir& dir, const std::string& shards) {
  const std::string folder = std::filesystem::path(test::TarvixBinary()).parent_path().string();
  return test::RunProcess(
      "/bin/sh",
      {"-c", "PATH=\"$1:$PATH\"; export PATH; exec parallel --will-cite tarvix -l ::: " + shards,
       "sh", folder},
      In(dir));
}

TEST(SplitList, DealsEntriesOutInTurnAndKeepsPairsTogether) {
  const struct {
    std::string name;
    std::string list;
    std::string shards;
    Names expected;
  } cases[] = {
      {"pairs, read as tarvix reads them",
       "\xEF\xBB\xBF @tarvixlist2\r\n\r\n a b.wav\r\nout/a b.ncw \rk.NCW\rk.wav\n\n\tx.Wav\nx.ncw",
       "2",
       {"@tarvixlist2\na b.wav\nout/a b.ncw\nx.Wav\nx.ncw\n", "@tarvixlist2\nk.NCW\nk.wav\n"}},
      {"names",
       "@tarvixlist1\na.wav\nb.wav\nc.ncw\nd.wav\ne.wav\n",
       "3",
       {"@tarvixlist1\na.wav\nd.wav\n", "@tarvixlist1\nb.wav\ne.wav\n", "@tarvixlist1\nc.ncw\n"}},
      // An empty shard would make its run fail, so none is written.
      {"fewer entries than shards", "@tarvixlist1\na.wav", "4", {"@tarvixlist1\na.wav\n"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::TTempDir dir;
    dir.WriteFile("list.txt", c.list);
    const test::TProcessResult result = Split(dir, "list.txt", c.shards, "shard");
    EXPECT_EQ(result.exitCode, 0) << result.err;
    Names files{"list.txt"};
    for (size_t i = 0; i < c.expected.size(); ++i) {
      const std::string shard = "shard-" + std::to_string(i + 1) + ".txt";
      files.push_back(shard);
      EXPECT_EQ(test::ReadFileText(dir / shard), c.expected[i]) << shard;
    }
    EXPECT_EQ(dir.List(), files);
  }
}

TEST(SplitList, RefusesWhatTarvixWouldRefuseAndWritesNothing) {
  const struct {
    std::string name;
    std::string list;
    std::string shards;
    std::string message;
    bool tarvixRefuses;  // the same list given to tarvix -l exits with 2
  } cases[] = {
      {"blank lines only", " \r\n\t\n", "2", "no @tarvixlist1 or @tarvixlist2 line", true},
      {"no magic", "a.wav\nb.wav\n", "2", "must be @tarvixlist1 or @tarvixlist2", true},
      {"magic in capitals", "@TARVIXLIST1\na.wav\n", "2", "must be @tarvixlist1", true},
      {"byte-order mark after the start", "\n\xEF\xBB\xBF@tarvixlist1\na.wav\n", "2",
       "must be @tarvixlist1", true},
      {"magic alone", "@tarvixlist2\n\n", "2", "no file name after @tarvixlist2", true},
      {"odd pair list", "@tarvixlist2\na.wav\nb.ncw\nc.wav\n", "2", "odd number of names", true},
      {"a name without extension", "@tarvixlist1\na.wav\ndir.wav/README\n", "2",
       "\"dir.wav/README\" has neither .wav nor .ncw", true},
      {"pair output in capitals", "@tarvixlist2\na.WAV\nA.NCW\n", "2", "\"A.NCW\" must end in .ncw",
       true},
      {"a NUL byte", std::string("@tarvixlist1\na.wav\0b.wav\n", 26), "2", "NUL byte", false},
      {"no shards", "@tarvixlist1\na.wav\n", "0", "whole number from 1 up", false},
      {"not a number", "@tarvixlist1\na.wav\n", "two", "whole number from 1 up", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::TTempDir dir;
    dir.WriteFile("list.txt", c.list);
    const test::TProcessResult result = Split(dir, "list.txt", c.shards, "shard");
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
    EXPECT_EQ(dir.List(), Names{"list.txt"});
    if (c.tarvixRefuses) {
      EXPECT_EQ(test::RunTarvixIn(dir, {"-l", "list.txt"}).exitCode, 2);
    }
  }

  // A shard left from an earlier split would be run again by `shard-*.txt`.
  test::TTempDir dir;
  dir.WriteFile("list.txt", "@tarvixlist1\na.wav\nb.wav\n");
  dir.WriteFile("shard-3.txt", "@tarvixlist1\nold.wav\n");
  const test::TProcessResult result = Split(dir, "list.txt", "2", "shard");
  EXPECT_EQ(result.exitCode, 2);
  EXPECT_NE(result.err.find("'shard-3.txt' exists already"), std::string::npos) << result.err;
  EXPECT_EQ(dir.List(), (Names{"list.txt", "shard-3.txt"}));
}

TEST(SplitList, HelpPrintsTheUsageAndExitsWithZero) {
  const std::string kUsage = "usage: tarvix-split-list LIST N PREFIX";
  const struct {
    Names args;
    int exitCode;  // 0: the usage on standard output; 2: a refusal on standard error
  } cases[] = {
      {{"--help"}, 0},
      {{"-h"}, 0},
      {{}, 2},
      {{"list.txt", "2"}, 2},
      {{"--help", "2", "shard"}, 2},  // a list file of that name, which does not exist
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    test::TTempDir dir;
    dir.WriteFile("list.txt", "@tarvixlist1\na.wav\n");
    const test::TProcessResult result = test::RunProcess(TARVIX_SPLIT_LIST_PATH, c.args, In(dir));
    EXPECT_EQ(result.exitCode, c.exitCode);
    const std::string& told = c.exitCode == 0 ? result.out : result.err;
    const std::string& quiet = c.exitCode == 0 ? result.err : result.out;
    EXPECT_NE(told.find(c.args.size() == 3 ? "cannot read the list file '--help'" : kUsage),
              std::string::npos)
        << told;
    EXPECT_EQ(quiet, "");
    EXPECT_EQ(dir.List(), Names{"list.txt"});
  }
}

TEST(ShardedRecipe, TwoShardsConvertEveryListedFileExactlyOnce) {
  if (!HaveGnuParallel()) GTEST_SKIP() << "GNU parallel is not on PATH";
  test::TTempDir dir;
  test::WriteWav(dir, "lib/kick.wav", 16, 2, 44100, 1500, 1);
  test::WriteWav(dir, "lib/toms/tom 1.wav", 8, 1, 22050, 900, 2);
  test::WriteWav(dir, "lib/snare.wav", 24, 1, 48000, 1200, 3);
  test::WriteWav(dir, "lib/hat.wav", 16, 1, 44100, 700, 4);
  std::vector<int64_t> padSamples;
  for (int i = 0; i < 2400; ++i) padSamples.push_back((i * 37) % 2001 - 1000);
  dir.WriteFile("lib/pad.ncw", test::EncodeToNcwBytes(16, 2, padSamples));
  // Three pairs give shards of two and one; the names, one each.
  dir.WriteFile("pairs.txt",
                "@tarvixlist2\nlib/kick.wav\nout/kick.ncw\nlib/pad.ncw\nout/pad.wav\n"
                "lib/toms/tom 1.wav\nout/toms/tom 1.ncw\n");
  dir.WriteFile("names.txt", "@tarvixlist1\nlib/snare.wav\nlib/hat.wav\n");
  for (const char* list : {"pairs", "names"}) {
    const test::TProcessResult split = Split(dir, std::string(list) + ".txt", "2", list);
    ASSERT_EQ(split.exitCode, 0) << split.err;
  }

  const test::TProcessResult run = RunShards(dir, "pairs-*.txt names-*.txt");
  EXPECT_EQ(run.exitCode, 0) << run.out << run.err;

  // Every output once: no numbered copy, no temporary file, nothing missing.
  Names expected{
      "lib",           "lib/hat.ncw",        "lib/hat.wav", "lib/kick.wav",       "lib/pad.ncw",
      "lib/snare.ncw", "lib/snare.wav",      "lib/toms",    "lib/toms/tom 1.wav", "names-1.txt",
      "names-2.txt",   "names.txt",          "out",         "out/kick.ncw",       "out/pad.wav",
      "out/toms",      "out/toms/tom 1.ncw", "pairs-1.txt", "pairs-2.txt",        "pairs.txt"};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(dir.List(), expected);
  const std::pair<std::string, std::string> fromWav[] = {
      {"lib/kick.wav", "out/kick.ncw"},
      {"lib/toms/tom 1.wav", "out/toms/tom 1.ncw"},
      {"lib/snare.wav", "lib/snare.ncw"},
      {"lib/hat.wav", "lib/hat.ncw"}};
  for (const auto& [source, output] : fromWav) {
    EXPECT_EQ(test::NcwSampleBytes(dir / output), test::WavSampleBytes(dir / source)) << output;
  }
  EXPECT_EQ(test::WavSampleBytes(dir / "out/pad.wav"), test::NcwSampleBytes(dir / "lib/pad.ncw"));
}

TEST(ShardedRecipe, AShardWithAMissingSourceMakesTheCombinedStatusNonZero) {
  if (!HaveGnuParallel()) GTEST_SKIP() << "GNU parallel is not on PATH";
  test::TTempDir dir;
  test::WriteWav(dir, "lib/kick.wav");
  dir.WriteFile("list.txt", "@tarvixlist1\nlib/kick.wav\nlib/gone.wav\n");
  ASSERT_EQ(Split(dir, "list.txt", "2", "shard").exitCode, 0);

  const test::TProcessResult run = RunShards(dir, "shard-*.txt");
  EXPECT_EQ(run.exitCode, 1) << "one failed shard" << run.out << run.err;
  EXPECT_NE(run.out.find("'lib/gone.wav' doesn't exist"), std::string::npos) << run.out;
  EXPECT_EQ(test::NcwSampleBytes(dir / "lib/kick.ncw"), test::WavSampleBytes(dir / "lib/kick.wav"));
}

}  // namespace
}  // namespace tarvix
