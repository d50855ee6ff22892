// The status line on a terminal of 80 columns, and plain lines when output is redirected.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/Fixtures.h"
#include "support/ProcessHarness.h"

namespace tarvix {
namespace {

using Screen = std::vector<std::string>;

const std::string kBlank79 = std::string(79, ' ');
// What every progress text is preceded by: back to the line start, 79 blanks, back again.
const std::string kClear = "\r" + kBlank79 + "\r";

class TerminalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::WriteWav(fDir, "a.wav");
    test::WriteWav(fDir, "b.wav");
    fDir.WriteFile("bad.wav", "RIFF");
    fDir.WriteFile("list.txt", "@tarvixlist1\na.wav\nmissing.wav\nb.wav\n");
  }
  test::TProcessResult Run(const std::vector<std::string>& args) {
    test::TProcessOptions options;
    options.workingDirectory = fDir.Path();
    options.terminalWidth = 80;
    return test::RunTarvix(args, options);
  }
  test::TTempDir fDir;
};

// The closing count comes once the status line is blanked and ended, on a line of its own.
TEST_F(TerminalTest, FileModeOverwritesItsProgressAndEndsOnAFreshLine) {
  test::TProcessResult result = Run({"a.wav", "b.wav"});
  EXPECT_EQ(result.exitCode, 0);
  const std::string count = "2 files: 2 converted, 0 skipped, 0 refused";
  EXPECT_EQ(result.out, kClear + "[1 from 2]  a.wav..." + kClear + "[2 from 2]  b.wav..." + kClear +
                            "\n" + count + "\n");
  EXPECT_EQ(test::TerminalScreen(result.out, 80), (Screen{"", count, ""}));
}

TEST_F(TerminalTest, ErrorLinesStayBelowTheirProgressText) {
  test::TProcessResult result = Run({"a.wav", "bad.wav", "b.wav"});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(test::TerminalScreen(result.out, 80),
            (Screen{"[2 from 3]  bad.wav...", "  ERROR: bad.wav is not a correct WAV file",
                    "  WAVPARSER: Wrong file size or bad header", "",
                    "3 files: 2 converted, 0 skipped, 1 refused", ""}));
}

TEST_F(TerminalTest, ListModeEndsOnAFreshLineToo) {
  test::TProcessResult result = Run({"-l", "list.txt"});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(test::TerminalScreen(result.out, 80),
            (Screen{"[2 from 3]  missing.wav...", "  ERROR: 'missing.wav' doesn't exist.  skipped",
                    "", "3 files: 2 converted, 1 skipped, 0 refused", ""}));
  const std::string end = kClear + "\n3 files: 2 converted, 1 skipped, 0 refused\n";
  EXPECT_EQ(result.out.substr(result.out.size() - end.size()), end);
}

TEST_F(TerminalTest, DirectoryModeEndsOnAFreshLineToo) {
  fDir.WriteFile("0bad.wav", "RIFF");  // listed first
  ::unlink((fDir / "bad.wav").c_str());
  test::TProcessResult result = Run({"-w2n", "."});
  EXPECT_EQ(result.exitCode, 1);  // 0bad.wav is refused
  EXPECT_EQ(test::TerminalScreen(result.out, 80),
            (Screen{"./0bad.wav...", "  ERROR: ./0bad.wav is not a correct WAV file",
                    "  WAVPARSER: Wrong file size or bad header", "",
                    "3 files: 2 converted, 0 skipped, 1 refused", ""}));
  const std::string end = kClear + "\n3 files: 2 converted, 0 skipped, 1 refused\n";
  EXPECT_EQ(result.out.substr(result.out.size() - end.size()), end);
}

// An output folder that cannot be made ends the run (an NCW source that cannot be opened no
// longer does: it is refused like a damaged one).
TEST_F(TerminalTest, AnErrorEndingTheRunIsReportedOnAFreshLine) {
  test::TProcessResult result = Run({"a.wav", "b.wav/x.ncw"});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.out, kClear + "[1 from 1]  a.wav...\n");
  EXPECT_EQ(result.err, "ERROR: Can't create temporary file: 'b.wav/' (Not a directory)\n");
}

TEST_F(TerminalTest, RedirectedOutputGetsOneLinePerFileAndNoControlSequences) {
  test::TProcessOptions options;
  options.workingDirectory = fDir.Path();
  test::TProcessResult result = test::RunTarvix({"-rw", "a.wav", "bad.wav", "b.wav"}, options);
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.out,
            "[1 from 3]  a.wav...\n[2 from 3]  bad.wav...\n"
            "  ERROR: bad.wav is not a correct WAV file\n"
            "  WAVPARSER: Wrong file size or bad header\n[3 from 3]  b.wav...\n"
            "3 files: 2 converted, 0 skipped, 1 refused\n");
}

}  // namespace
}  // namespace tarvix
