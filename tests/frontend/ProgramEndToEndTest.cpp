// The program as a user runs it: exit statuses, the command line's refusals, failures named as
// what they are, and the count that closes a run.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "frontend/Program.h"
#include "support/Fixtures.h"
#include "support/ProcessHarness.h"
#include "support/TempDir.h"

namespace tarvix {
namespace {

using Names = std::vector<std::string>;

TEST(ProgramEndToEnd, CommandLineRefusalsExitWithTwoAndTouchNothing) {
  test::TTempDir dir;
  dir.WriteFile("a.wav", "");
  dir.MakeDir("samples");
  struct Case {
    std::vector<std::string> args;
    std::vector<std::string> lines;
  } cases[] = {
      {{"-w2n", "-rw"},
       {"ERROR: At least one non-flag parameter must be used",
        "       tarvix [flags] file|dir [file|dir]..."}},
      {{"missing.wav"}, {"ERROR: 'missing.wav' file or directory doesn't exist"}},
      {{"samples"}, {"ERROR: Convert direction must be specified (-w2n or -n2w flags)"}},
      {{"-rw", "a.wav", "-rec"}, {"ERROR: wrong parameter '-rec' - files must be WAV or NCW"}},
      {{"-l", "samples"}, {"ERROR: 'samples' list file doesn't exist"}},
  };
  for (const auto& c : cases) {
    for (bool terminal : {false, true}) {
      SCOPED_TRACE(testing::PrintToString(c.args));
      test::TProcessOptions options;
      options.workingDirectory = dir.Path();
      if (terminal) options.terminalWidth = 80;
      test::TProcessResult result = test::RunTarvix(c.args, options);
      EXPECT_EQ(result.exitCode, 2);
      EXPECT_EQ(result.err, "");
      EXPECT_EQ(test::Lines(result.out), c.lines);
      EXPECT_EQ(dir.List(), (std::vector<std::string>{"a.wav", "samples"}));
    }
  }
}

TEST(ClosingCount, NamesEveryOutcomeInTheUsersWords) {
  using O = TItemOutcome;
  const struct {
    std::vector<TItemOutcome> outcomes;
    std::string line;
    bool test = false;
    size_t cutShort = 0;
    size_t withoutChecksums = 0;
  } cases[] = {
      {{}, "0 files: 0 converted, 0 skipped, 0 refused"},
      {{O::kConverted}, "1 file: 1 converted, 0 skipped, 0 refused"},
      {{O::kSkippedMissing, O::kRefused, O::kSkippedExisting}, "3 files: 0 converted, 2 skipped, 1 refused"},
      {{O::kConverted, O::kConvertedNumbered, O::kRefused},
       "3 files: 2 converted, 0 skipped, 1 refused; 1 under a numbered name"},
      {{O::kConvertedNumbered, O::kConvertedNumbered, O::kSkippedExisting},
       "3 files: 2 converted, 1 skipped, 0 refused; 2 under numbered names"},
      {{O::kConverted, O::kConvertedNumbered},
       "2 files: 2 converted, 0 skipped, 0 refused; 1 under a numbered name; 1 cut short", false,
       1},
      {{O::kConverted, O::kSkippedMissing, O::kRefused}, "3 files: 1 intact, 1 skipped, 1 damaged",
       true},
      {{O::kConverted, O::kConverted}, "2 files: 2 intact, 0 skipped, 0 damaged; 2 without checksums",
       true, 0, 2},
  };
  for (const auto& c : cases) {
    TOutcomeCounts tally;
    for (TItemOutcome outcome : c.outcomes) tally.Add(outcome);
    tally.cutShort = c.cutShort;
    tally.withoutChecksums = c.withoutChecksums;
    EXPECT_EQ(ClosingCount(tally, c.test), c.line);
  }
}

// Runs one after another in one folder, so that outputs of earlier runs number later ones.
TEST(ClosingCount, IsTheLastLineOfEveryRunOfSeveralSources) {
  test::TTempDir dir;
  test::WriteWav(dir, "In/a.wav");
  test::WriteWav(dir, "In/b.wav", 24, 1);
  dir.WriteFile("In/bad.wav", "RIFF");
  test::WriteWav(dir, "One/solo.wav", 8, 1);
  dir.MakeDir("Empty");
  dir.WriteFile("list.txt",
                "@tarvixlist2\nIn/a.wav\nL/a.ncw\nmissing.wav\nL/m.ncw\n"
                "In/b.wav\nL/b.ncw\nIn/bad.wav\nL/bad.ncw\n");
  const std::string kNone;  // one source: no count
  const struct {
    Names args;
    int exitCode;
    std::string count;
  } cases[] = {
      {{"-w2n", "In"}, 1, "3 files: 2 converted, 0 skipped, 1 refused"},
      {{"-w2n", "In"}, 1, "3 files: 2 converted, 0 skipped, 1 refused; 2 under numbered names"},
      {{"-skip", "-w2n", "In"}, 1, "3 files: 0 converted, 2 skipped, 1 refused"},
      {{"-w2n", "One"}, 0, "1 file: 1 converted, 0 skipped, 0 refused"},
      {{"-n2w", "Empty"}, 0, "0 files: 0 converted, 0 skipped, 0 refused"},
      {{"-l", "list.txt"}, 1, "4 files: 2 converted, 1 skipped, 1 refused"},
      {{"-skip", "-l", "list.txt"}, 1, "4 files: 0 converted, 3 skipped, 1 refused"},
      {{"In/a.wav", "x.ncw", "In/b.wav", "x.ncw"},
       0,
       "2 files: 2 converted, 0 skipped, 0 refused; 1 under a numbered name"},
      // A read-only output is not replaced: the output could not be placed.
      {{"-rw", "In/a.wav", "x.ncw", "In/b.wav", "ro.ncw"},
       1,
       "2 files: 1 converted, 0 skipped, 1 refused"},
      {{"In/a.wav", "y.ncw"}, 0, kNone},
      {{"-skip", "In/a.wav", "y.ncw"}, 0, kNone},
  };
  dir.WriteFile("ro.ncw", "kept");
  ::chmod((dir / "ro.ncw").c_str(), 0444);
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    const test::TProcessResult result = test::RunTarvixIn(dir, c.args);
    EXPECT_EQ(result.exitCode, c.exitCode) << result.out << result.err;
    const Names lines = test::Lines(result.out);
    ASSERT_FALSE(lines.empty());
    size_t counts = 0;
    for (const std::string& line : lines) {
      counts += line.find(" converted, ") != std::string::npos ? 1 : 0;
    }
    if (c.count.empty()) {
      EXPECT_EQ(counts, 0u) << result.out;
    } else {
      EXPECT_EQ(counts, 1u) << result.out;
      EXPECT_EQ(lines.back(), c.count);
    }
  }
}

// The unprivileged child meets a folder it may enter but not read, and one it may not enter.
TEST(ProgramEndToEnd, FoldersAndNamesThatCannotBeReadAreToldWithTheirReason) {
  test::TTempDir dir;
  test::OpenForEveryone(dir);
  if (!test::PermissionsBindUnprivileged(dir)) {
    GTEST_SKIP() << "permission bits do not bind a child here";
  }
  for (const char* name : {"Lib/a.wav", "Lib/Locked/c.wav", "Lib/Sub/d.wav", "Closed/e.wav"}) {
    test::WriteWav(dir, name);
  }
  dir.WriteFile("Closed/list.txt", "@tarvixlist1\nLib/a.wav\n");
  dir.WriteFile("list.txt", "@tarvixlist2\nLib/a.wav\nL/a.ncw\nClosed/e.wav\nL/e.ncw\n");
  for (const char* folder : {"Lib", "Lib/Sub"}) ::chmod((dir / folder).c_str(), 0777);
  ::chmod((dir / "Lib/Locked").c_str(), 0333);  // may be entered, not read
  ::chmod((dir / "Closed").c_str(), 0);
  const std::string kLocked = "  ERROR: can't read folder 'Lib/Locked' (Permission denied)";
  const std::string kClosed = "can't examine 'Closed/e.wav' (Permission denied)";
  const struct {
    Names args;
    int exitCode;
    Names lines;
  } cases[] = {
      {{"-w2n", "-rec", "Lib", "Out"},
       1,
       {kLocked, "Lib/a.wav...", "Lib/Sub/d.wav...", "2 files: 2 converted, 0 skipped, 0 refused"}},
      {{"-w2n", "Lib/Locked", "Out"}, 1, {kLocked, "0 files: 0 converted, 0 skipped, 0 refused"}},
      {{"-w2n", "Lib/Sub/", "Out/Sub"},
       0,
       {"Lib/Sub/d.wav...", "1 file: 1 converted, 0 skipped, 0 refused; 1 under a numbered name"}},
      {{"Lib/a.wav", "F/a.ncw", "Closed/e.wav"},
       1,
       {"[1 from 2]  Lib/a.wav...", "[2 from 2]  Closed/e.wav...",
        "  ERROR: " + kClosed + ".  skipped", "2 files: 1 converted, 1 skipped, 0 refused"}},
      {{"-l", "list.txt"},
       1,
       {"[1 from 2]  Lib/a.wav...", "[2 from 2]  Closed/e.wav...",
        "  ERROR: " + kClosed + ".  skipped", "2 files: 1 converted, 1 skipped, 0 refused"}},
      {{"Closed/e.wav"}, 2, {"ERROR: " + kClosed}},
      {{"-w2n", "Closed/Sub"}, 2, {"ERROR: can't examine 'Closed/Sub' (Permission denied)"}},
      {{"-l", "Closed/list.txt"},
       2,
       {"ERROR: can't examine 'Closed/list.txt' (Permission denied)"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    test::TProcessOptions options;
    options.asUnprivileged = true;
    const test::TProcessResult result = test::RunTarvixIn(dir, c.args, options);
    EXPECT_EQ(result.exitCode, c.exitCode) << result.err;
    EXPECT_EQ(test::Lines(result.out), c.lines);
  }
}

}  // namespace
}  // namespace tarvix
