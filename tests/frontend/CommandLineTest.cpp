#include "frontend/CommandLine.h"
#include "platform/FileSystem.h"

#include <gtest/gtest.h>

#include "support/CapturedConsole.h"
#include "support/ProcessHarness.h"
#include "support/TempDir.h"

namespace tarvix {
namespace {

using Args = std::vector<std::string>;
using Lines = std::vector<std::string>;
using D = TConvertDirection;
using M = TRunMode;
using H = TWavHeaderKind;

// The working directory of every case holds these names.
class CommandLineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fDir.WriteFile("a.wav", "");
    fDir.WriteFile("A.Wav", "");
    fDir.WriteFile("b.ncw", "");
    fDir.WriteFile("list.txt", "");
    fDir.MakeDir("samples");
    fDir.MakeDir("x.wav");
    fCwd = std::make_unique<test::TWorkingDirectory>(fDir.Path());
  }
  void TearDown() override { fCwd.reset(); }

  test::TTempDir fDir;
  std::unique_ptr<test::TWorkingDirectory> fCwd;
};

struct RefusedCase {
  Args args;
  Lines lines;
};

TEST_F(CommandLineTest, EveryRefusalPrintsItsLinesInOrderOfPrecedence) {
  const Lines kNoParameter = {"ERROR: At least one non-flag parameter must be used",
                              "       tarvix [flags] file|dir [file|dir]..."};
  const Lines kNoDirection = {"ERROR: Convert direction must be specified (-w2n or -n2w flags)"};
  const Lines kDirectoryCount = {
      "ERROR: For directory mode only 1 or 2 parameters are allowed (source and dest directory)",
      "       tarvix source", "       tarvix source dest"};
  const Lines kListCount = {"ERROR: For list mode only 1 parameter is allowed (list file name)",
                            "       tarvix -l list_file"};
  auto missing = [](const std::string& name) {
    return Lines{"ERROR: '" + name + "' file or directory doesn't exist"};
  };
  auto wrong = [](const std::string& name) {
    return Lines{"ERROR: wrong parameter '" + name + "' - files must be WAV or NCW"};
  };
  const Lines kSkipRewrite = {"ERROR: -skip and -rw flags can't be used together"};
  auto withTest = [](const std::string& flag) {
    return Lines{"ERROR: -test and " + flag + " flags can't be used together"};
  };
  const Lines kNoNcwOutput = {"ERROR: -crc applies to NCW outputs; NCW to WAV writes none"};
  auto threads = [](const std::string& flag) {
    return Lines{"ERROR: wrong flag '" + flag + "' - the number of threads must be 1 to 256"};
  };
  const RefusedCase cases[] = {
      {{"-w2n", "-rw"}, kNoParameter},
      {{"-skip", "-rw", "a.wav"}, kSkipRewrite},
      {{"-rewrite", "-skip"}, kSkipRewrite},  // before the missing parameter
      {{"-test", "-rw", "a.wav"}, withTest("-rw")},
      {{"-skip", "-test", "b.ncw"}, withTest("-skip")},
      {{"-test", "-verify"}, withTest("-verify")},  // before the missing parameter
      {{"-crc", "-n2w", "samples"}, kNoNcwOutput},
      {{"-crc", "b.ncw", "a.wav"}, kNoNcwOutput},  // file mode: the first file's direction
      {{"-j0", "a.wav"}, threads("-j0")},
      {{"-j257", "missing.wav"}, threads("-j257")},  // at once, before any other check
      {{"-j99999999999999999999", "a.wav"}, threads("-j99999999999999999999")},
      {{"-j", "a.wav"}, missing("-j")},  // no number: no flag
      {{"-j2x"}, missing("-j2x")},
      {{"a.wav", "-j2"}, wrong("-j2")},
      {{"-l"}, kNoParameter},
      {{"-l", "-w2n", "-rec"}, kNoParameter},
      {{"-l", "list.txt", "x"}, kListCount},
      {{"-l", "missing.txt", "x"}, kListCount},  // the count comes before existence
      {{"-l", "samples"}, {"ERROR: 'samples' list file doesn't exist"}},
      {{"-l", "missing.txt"}, {"ERROR: 'missing.txt' list file doesn't exist"}},
      {{"missing.wav"}, missing("missing.wav")},
      {{"missing.txt", "a.wav"}, missing("missing.txt")},  // existence before extensions
      {{"-x"}, missing("-x")},                             // no flag, so the first parameter
      {{"-W2N", "samples"}, missing("-W2N")},              // flags are case-sensitive
      {{"-rwx", "a.wav"}, missing("-rwx")},
      {{"/h"}, missing("/h")},
      {{""}, missing("")},
      {{"samples"}, kNoDirection},
      {{"samples", "out"}, kNoDirection},
      {{"samples", "a", "b"}, kNoDirection},  // direction before the count
      {{"x.wav"}, kNoDirection},              // a directory named like a WAV file
      {{"-w2n", "samples", "a", "b"}, kDirectoryCount},
      {{"-rw", "a.wav", "-rec"}, wrong("-rec")},  // flags end at the first parameter
      {{"a.wav", "-h"}, wrong("-h")},
      {{"a.wav", "--help"}, wrong("--help")},
      {{"a.wav", "--version"}, wrong("--version")},
      {{"-help"}, missing("-help")},
      {{"--HELP"}, missing("--HELP")},
      {{"-version"}, missing("-version")},
      {{"a.wav", "-w2n"}, wrong("-w2n")},
      {{"a.wav", "b.txt", "c.doc"}, wrong("b.txt")},
      {{"list.txt"}, wrong("list.txt")},
      {{"a.wav", "dir.x/name"}, wrong("dir.x/name")},
  };
  for (const RefusedCase& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    test::TCapturedConsole console;
    TRunOptions options;
    EXPECT_EQ(ParseCommandLine(c.args, options, console.Console()), TParseResult::kRefused);
    EXPECT_EQ(test::Lines(console.Text()), c.lines);
  }
}

struct AcceptedCase {
  Args args;
  M mode;
  D direction;
  H header = H::kStandard;
  bool recursive = false;
  bool rewrite = false;
  std::string source = {};
  std::string destination = {};
  int threads = 0;
  bool skip = false;
  bool verify = false;
  bool checksums = false;
  bool test = false;
};

TEST_F(CommandLineTest, AcceptedCommandLinesSetTheRunOptions) {
  // One case per line, as a table.
  // clang-format off
  const AcceptedCase cases[] = {
      {{"a.wav"}, M::kFile, D::kWavToNcw},
      {{"A.Wav"}, M::kFile, D::kWavToNcw},
      {{"b.ncw"}, M::kFile, D::kNcwToWav},
      {{"-n2w", "a.wav"}, M::kFile, D::kWavToNcw},  // the first file overrides the flag
      {{"-w2n", "b.ncw", "a.wav"}, M::kFile, D::kNcwToWav},
      {{"a.wav", "missing.ncw", "x.WAV"}, M::kFile, D::kWavToNcw},  // only the first must exist
      {{"-whs", "-whe", "-wha", "a.wav"}, M::kFile, D::kWavToNcw, H::kAuto},
      {{"-wha", "-whs", "a.wav"}, M::kFile, D::kWavToNcw, H::kStandard},
      {{"-whe", "b.ncw"}, M::kFile, D::kNcwToWav, H::kExtended},
      {{"-rw", "-r", "a.wav"}, M::kFile, D::kWavToNcw, H::kStandard, true, true},
      {{"-rewrite", "-rec", "a.wav"}, M::kFile, D::kWavToNcw, H::kStandard, true, true},
      {{"-w2n", "samples"}, M::kDirectory, D::kWavToNcw, H::kStandard, false, false, "samples/", "samples/"},
      {{"-w2n", "-n2w", "samples/", "out"}, M::kDirectory, D::kNcwToWav, H::kStandard, false, false, "samples/", "out/"},
      {{"-r", "-n2w", "-w2n", "samples", "out/"}, M::kDirectory, D::kWavToNcw, H::kStandard, true, false, "samples/", "out/"},
      // An existing file as destination is accepted here; the first job fails on it.
      {{"-w2n", "samples", "a.wav"}, M::kDirectory, D::kWavToNcw, H::kStandard, false, false, "samples/", "a.wav/"},
      {{"-l", "list.txt"}, M::kList, D::kNotGiven},
      {{"-w2n", "-l", "-l", "list.txt"}, M::kList, D::kWavToNcw},
      {{"-l", "b.ncw"}, M::kList, D::kNotGiven},
      {{"-j4", "-skip", "a.wav"}, M::kFile, D::kWavToNcw, H::kStandard, false, false, {}, {}, 4, true},
      {{"-j1", "-j0256", "-l", "b.ncw"}, M::kList, D::kNotGiven, H::kStandard, false, false, {}, {}, 256},
      {{"-verify", "-skip", "a.wav"}, M::kFile, D::kWavToNcw, H::kStandard, false, false, {}, {}, 0, true, true},
      {{"-crc", "-verify", "a.wav"}, M::kFile, D::kWavToNcw, H::kStandard, false, false, {}, {}, 0, false, true, true},
      {{"-crc", "-l", "b.ncw"}, M::kList, D::kNotGiven, H::kStandard, false, false, {}, {}, 0, false, false, true},
      {{"-test", "-rec", "-j3", "-n2w", "samples"}, M::kDirectory, D::kNcwToWav, H::kStandard, true, false, "samples/", "samples/", 3, false, false, false, true},
      {{"-test", "-crc", "b.ncw"}, M::kFile, D::kNcwToWav, H::kStandard, false, false, {}, {}, 0, false, false, true, true},
  };
  // clang-format on
  for (const AcceptedCase& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    test::TCapturedConsole console;
    TRunOptions options;
    ASSERT_EQ(ParseCommandLine(c.args, options, console.Console()), TParseResult::kRun)
        << console.Text();
    EXPECT_EQ(console.Text(), "");
    EXPECT_EQ(options.runMode, c.mode);
    EXPECT_EQ(options.direction, c.direction);
    EXPECT_EQ(options.wavHeaderKind, c.header);
    EXPECT_EQ(options.recursive, c.recursive);
    EXPECT_EQ(options.rewrite, c.rewrite);
    EXPECT_EQ(options.sourceDirectory, c.source);
    EXPECT_EQ(options.destinationDirectory, c.destination);
    EXPECT_EQ(options.threads, c.threads);
    EXPECT_EQ(options.skipExisting, c.skip);
    EXPECT_EQ(options.verify, c.verify);
    EXPECT_EQ(options.checksums, c.checksums);
    EXPECT_EQ(options.test, c.test);
    Args parameters;
    for (const std::string& arg : c.args) {
      if (!parameters.empty() || arg.empty() || arg[0] != '-') parameters.push_back(arg);
    }
    EXPECT_EQ(options.parameters, parameters);
  }
}

TEST_F(CommandLineTest, HelpAndVersionStopTheScanOnlyWhileFlagsAreAllowed) {
  const Lines kVersion = {"tarvix 1.0"};
  const struct {
    Args args;
    bool help;  // the help text; otherwise the version line
  } cases[] = {
      {{"-h"}, true},
      {{"-?"}, true},
      {{"--help"}, true},
      {{"-rw", "-?", "a.wav"}, true},
      {{"-h", "missing.wav"}, true},
      {{"-l", "-h"}, true},
      {{"-w2n", "--help", "--version"}, true},
      {{"--version"}, false},
      {{"-l", "--version", "missing.wav"}, false},
      {{"--version", "--help"}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    test::TCapturedConsole console;
    TRunOptions options;
    EXPECT_EQ(ParseCommandLine(c.args, options, console.Console()), TParseResult::kStopped);
    Lines lines = test::Lines(console.Text());
    if (c.help) {
      ASSERT_EQ(lines.size(), 127u);
      EXPECT_EQ(lines[31], "SAMPLE USAGE:");
    } else {
      EXPECT_EQ(lines, kVersion);
    }
    EXPECT_TRUE(options.parameters.empty());
  }
}

TEST(AddTrailingDelimiter, AppendsExactlyOne) {
  EXPECT_EQ(AddTrailingDelimiter("dir"), "dir/");
  EXPECT_EQ(AddTrailingDelimiter("dir/"), "dir/");
  EXPECT_EQ(AddTrailingDelimiter("/"), "/");
  EXPECT_EQ(AddTrailingDelimiter(""), "/");
  EXPECT_EQ(AddTrailingDelimiter("a/b"), "a/b/");
}

}  // namespace
}  // namespace tarvix
