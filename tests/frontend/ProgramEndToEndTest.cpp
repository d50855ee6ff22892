// The program as a user runs it: exit statuses, the command line's refusals, failures named as
// what they are, and the count that closes a run.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <utility>

#include "frontend/Program.h"
#include "platform/FileSystem.h"
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
      {{"-rw", "a.wav", "-rec"}, {"ERROR: flag '-rec' after the names; flags come first"}},
      {{"-w2m", "samples"}, {"ERROR: unknown flag '-w2m' (tarvix -h lists the flags)"}},
      {{"-verify", "a.wav", "-"},
       {"ERROR: -verify reads an output file back; standard output ('-') can't be read back"}},
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
      {{O::kSkippedMissing, O::kRefused, O::kSkippedExisting},
       "3 files: 0 converted, 2 skipped, 1 refused"},
      {{O::kConverted, O::kConvertedNumbered, O::kRefused},
       "3 files: 2 converted, 0 skipped, 1 refused; 1 under a numbered name"},
      {{O::kConvertedNumbered, O::kConvertedNumbered, O::kSkippedExisting},
       "3 files: 2 converted, 1 skipped, 0 refused; 2 under numbered names"},
      {{O::kConverted, O::kConvertedNumbered},
       "2 files: 2 converted, 0 skipped, 0 refused; 1 under a numbered name; 1 cut short",
       false,
       1},
      {{O::kConverted, O::kSkippedMissing, O::kRefused},
       "3 files: 1 intact, 1 skipped, 1 damaged",
       true},
      {{O::kConverted, O::kConverted},
       "2 files: 2 intact, 0 skipped, 0 damaged; 2 without checksums",
       true,
       0,
       2},
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

// Notes say why nothing was converted and where a numbered output went; -q leaves them out
// with the progress texts, but not the errors and the count. The runs follow one another in
// one folder.
TEST(ProgramEndToEnd, NotesExplainWhatHappenedAndQuietKeepsOnlyErrorsAndTheCount) {
  test::TTempDir dir;
  for (const char* name : {"Kit/a.ncw", "Kit/b.NCW", "Kit/Sub/c.wav", "Kit/Sub/d.wav",
                           "Kit/Sub/Deep/e.wav", "Kit/notes.txt"}) {
    dir.WriteFile(name, "");
  }
  dir.MakeDir("Empty");
  test::WriteWav(dir, "Wavs/x.wav");
  const std::string kNone = "0 files: 0 converted, 0 skipped, 0 refused";
  const struct {
    Names args;
    int exitCode;
    Names lines;
  } cases[] = {
      {{"-w2n", "Kit"},
       0,
       {"  note: no .wav files in 'Kit'; it holds 2 .ncw files (-n2w converts those) and 3 .wav "
        "files in subfolders (-rec converts those)",
        kNone}},
      {{"-w2n", "Kit/", "Out"},
       0,
       {"  note: no .wav files in 'Kit'; it holds 2 .ncw files (-n2w converts those) and 3 .wav "
        "files in subfolders (-rec converts those)",
        kNone}},
      {{"-n2w", "-rec", "Kit/Sub"},
       0,
       {"  note: no .ncw files in 'Kit/Sub' or its subfolders; it holds 3 .wav files (-w2n "
        "converts those)",
        kNone}},
      {{"-n2w", "Kit/Sub/Deep"},
       0,
       {"  note: no .ncw files in 'Kit/Sub/Deep'; it holds 1 .wav file (-w2n converts those)",
        kNone}},
      {{"-w2n", "Empty"}, 0, {"  note: no .wav files in 'Empty'", kNone}},
      {{"-q", "-w2n", "Kit"}, 0, {kNone}},
      {{"Wavs/x.wav"}, 0, {"[1 from 1]  Wavs/x.wav..."}},
      {{"Wavs/x.wav"},
       0,
       {"[1 from 1]  Wavs/x.wav...", "  note: 'Wavs/x.ncw' exists; written as 'Wavs/x_1.ncw'"}},
      {{"-q", "Wavs/x.wav"}, 0, {}},
      {{"-q", "Wavs/x.wav", "missing.wav"},
       1,
       {"  ERROR: 'missing.wav' doesn't exist.  skipped",
        "2 files: 1 converted, 1 skipped, 0 refused; 1 under a numbered name"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    const test::TProcessResult result = test::RunTarvixIn(dir, c.args);
    EXPECT_EQ(result.exitCode, c.exitCode) << result.err;
    EXPECT_EQ(test::Lines(result.out), c.lines);
    EXPECT_EQ(result.err, "");
  }
  EXPECT_TRUE(FileExists(dir / "Wavs/x_2.ncw"));
  EXPECT_TRUE(FileExists(dir / "Wavs/x_3.ncw"));
}

// -keeptime gives each output the times its source had before it was read, to the
// nanosecond; without it an output has the time it was made.
TEST(ProgramEndToEnd, KeepTimeGivesOutputsTheTimesOfTheirSources) {
  test::TTempDir dir;
  test::WriteWav(dir, "a.wav");
  test::WriteWav(dir, "Kit/Sub/b.wav", 24, 1);
  const timespec kAccess = {981173106, 123456789};  // 2001-02-03, long before any read
  const timespec kModify = {981086706, 987654321};
  // Set before every run: a run that reads a source may change its access time.
  auto setSourceTimes = [&] {
    for (const char* name : {"a.wav", "Kit/Sub/b.wav"}) {
      const timespec times[2] = {kAccess, kModify};
      ASSERT_EQ(::utimensat(AT_FDCWD, (dir / name).c_str(), times, 0), 0);
    }
  };
  auto timesOf = [&](const std::string& name) {
    struct stat info {};
    EXPECT_EQ(::stat((dir / name).c_str(), &info), 0) << name;
    return std::pair{info.st_atim, info.st_mtim};
  };
  auto same = [](const timespec& a, const timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
  };
  const struct {
    Names args;
    Names outputs;
  } cases[] = {
      {{"-keeptime", "a.wav"}, {"a.ncw"}},
      {{"-keeptime", "a.wav"}, {"a_1.ncw"}},  // a numbered one too
      {{"-keeptime", "-j1", "-w2n", "-rec", "Kit", "Out"}, {"Out/Sub/b.ncw"}},
      {{"-keeptime", "-rec", "-n2w", "Out", "Back"}, {"Back/Sub/b.wav"}},  // Out/Sub/b.ncw's
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    setSourceTimes();
    const test::TProcessResult result = test::RunTarvixIn(dir, c.args);
    EXPECT_EQ(result.exitCode, 0) << result.out << result.err;
    for (const std::string& output : c.outputs) {
      const auto [access, modify] = timesOf(output);
      EXPECT_TRUE(same(access, kAccess)) << output << " " << access.tv_sec;
      EXPECT_TRUE(same(modify, kModify)) << output << " " << modify.tv_sec;
    }
  }
  const test::TProcessResult plain = test::RunTarvixIn(dir, {"a.wav", "now.ncw"});
  EXPECT_EQ(plain.exitCode, 0);
  EXPECT_GT(timesOf("now.ncw").second.tv_sec, kModify.tv_sec + 3600);
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
      {{"-w2n", "Lib/Locked", "Out"},
       1,
       {kLocked, "  note: no .wav files in 'Lib/Locked'",
        "0 files: 0 converted, 0 skipped, 0 refused"}},
      {{"-w2n", "Lib/Sub/", "Out/Sub"},
       0,
       {"Lib/Sub/d.wav...", "  note: 'Out/Sub/d.ncw' exists; written as 'Out/Sub/d_1.ncw'",
        "1 file: 1 converted, 0 skipped, 0 refused; 1 under a numbered name"}},
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
