// The status line on a terminal of 80 columns, and plain lines when output is redirected.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <tuple>

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

// -q: no status line at all; the error lines and the count start where the cursor was.
TEST_F(TerminalTest, QuietRunsShowOnlyErrorsAndTheCount) {
  test::TProcessResult result = Run({"-q", "a.wav", "bad.wav", "b.wav"});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.out,
            "  ERROR: bad.wav is not a correct WAV file\n"
            "  WAVPARSER: Wrong file size or bad header\n"
            "3 files: 2 converted, 0 skipped, 1 refused\n");
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

namespace tarvix {
namespace {

using Screen = std::vector<std::string>;

// A line that stays, as a terminal of `width` columns wraps it (one column per character).
Screen Wrapped(const std::string& line, int width) {
  Screen rows(1);
  int column = 0;
  for (char c : line) {
    const bool starts = (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    if (starts && column == width) {
      rows.emplace_back();
      column = 0;
    }
    rows.back() += c;
    column += starts ? 1 : 0;
  }
  for (std::string& row : rows) row.erase(row.find_last_not_of(' ') + 1);  // as shown
  return rows;
}

struct WidthCase {
  int width;
  std::string shownMissing;  // the progress text of the missing source, as it stays
};

// Long names, wide characters and combining marks at several widths: every progress text fits
// its line, so the screen after the run shows only what stays.
class TerminalWidthTest : public ::testing::TestWithParam<WidthCase> {};

TEST_P(TerminalWidthTest, ProgressTextsNeverWrapAndLeaveNothingBehind) {
  const int width = GetParam().width;
  test::TTempDir dir;
  const std::vector<std::string> names = {
      "Kit/Drums/Close Mics/Legato mic Close RR1 with a rather long name.wav",
      "Kit/\u65e5\u672c\u8a9e\u306e\u30b5\u30f3\u30d7\u30eb/"
      "\u30c9\u30e9\u30e0\u30ad\u30c3\u30c8/\u30ad\u30c3\u30af_\u5f37\u3081.wav",
      "Kit/Cafe\u0301/Cre\u0300me bru\u0302le\u0301e \ud55c\uad6d\uc5b4 \U0001F941.wav",
  };
  std::vector<std::string> args;
  for (const std::string& name : names) {
    test::WriteWav(dir, name);
    args.push_back(name);
  }
  test::TProcessOptions options;
  options.workingDirectory = dir.Path();
  options.terminalWidth = width;
  const test::TProcessResult converted = test::RunTarvix(args, options);
  EXPECT_EQ(converted.exitCode, 0) << converted.err;
  Screen expected = {""};
  for (const std::string& row : Wrapped("3 files: 3 converted, 0 skipped, 0 refused", width)) {
    expected.push_back(row);
  }
  expected.push_back("");
  EXPECT_EQ(test::TerminalScreen(converted.out, width), expected) << converted.out;

  // A missing source keeps its progress text, shortened, above its error line, which wraps as
  // lines that stay do; the progress texts of the others leave nothing.
  const std::string missing = "Kit/Caf\u00e9 Cr\u00e8me/missing kick.wav";
  args.insert(args.begin() + 1, missing);
  args.insert(args.begin(), "-rw");
  const test::TProcessResult skipped = test::RunTarvix(args, options);
  EXPECT_EQ(skipped.exitCode, 1) << skipped.err;
  expected = {GetParam().shownMissing};
  for (const std::string& row :
       Wrapped("  ERROR: '" + missing + "' doesn't exist.  skipped", width)) {
    expected.push_back(row);
  }
  expected.push_back("");
  for (const std::string& row : Wrapped("4 files: 3 converted, 1 skipped, 0 refused", width)) {
    expected.push_back(row);
  }
  expected.push_back("");
  EXPECT_EQ(test::TerminalScreen(skipped.out, width), expected) << skipped.out;
}

INSTANTIATE_TEST_SUITE_P(
    Widths, TerminalWidthTest,
    ::testing::Values(WidthCase{20, "[2 from 4\u2026ck.wav..."},
                      WidthCase{40, "[2 from 4]  Kit/\u2026/missing kick.wav..."},
                      WidthCase{80, "[2 from 4]  Kit/Caf\u00e9 Cr\u00e8me/missing kick.wav..."}),
    [](const auto& info) { return std::to_string(info.param.width) + "_columns"; });

// A conversion that runs long enough shows its percentage on a terminal, never in a pipe. The
// child is stopped for a while once it has opened its source, so that the conversion lasts
// longer than the half second before the percentage, however fast the machine.
class ProgressPercentTest : public ::testing::TestWithParam<std::tuple<bool, std::string>> {};

bool HasOpen(pid_t pid, const std::string& suffix) {
  const std::string fds = "/proc/" + std::to_string(pid) + "/fd/";
  for (int fd = 3; fd < 64; ++fd) {
    char target[4096];
    const ssize_t n = ::readlink((fds + std::to_string(fd)).c_str(), target, sizeof target);
    if (n > 0 && std::string(target, static_cast<size_t>(n)).ends_with(suffix)) return true;
  }
  return false;
}

// True when `text` is followed somewhere in `out` by a percentage: one to three digits and "%".
bool ShowsPercent(const std::string& out, const std::string& text) {
  for (size_t at = out.find(text); at != std::string::npos; at = out.find(text, at + 1)) {
    size_t end = at + text.size();
    while (end < out.size() && end - at - text.size() < 3 && std::isdigit(out[end])) ++end;
    if (end > at + text.size() && end < out.size() && out[end] == '%') return true;
  }
  return false;
}

TEST_P(ProgressPercentTest, ShownAfterHalfASecondOnATerminalOnly) {
  const auto& [terminal, threads] = GetParam();
  test::TTempDir dir;
  test::WriteWav(dir, "big.wav", 16, 2, 44100, 12'000'000);
  test::TProcessOptions options;
  options.workingDirectory = dir.Path();
  if (terminal) options.terminalWidth = 40;
  test::TChildProcess child(test::TarvixBinary(), {threads, "big.wav"}, options);
  bool opened = false;
  for (int i = 0; i < 4000 && !opened; ++i) {
    opened = HasOpen(child.Pid(), "/big.wav");
    if (!opened) ::usleep(1000);
  }
  ASSERT_TRUE(opened);
  // Twice: with several threads the source may be opened before the item's turn begins, and
  // the half second counts from the turn.
  for (int pause = 0; pause < 2; ++pause) {
    child.Signal(SIGSTOP);
    ::usleep(800'000);
    child.Signal(SIGCONT);
    ::usleep(30'000);
  }
  const test::TProcessResult result = child.Wait();
  EXPECT_EQ(result.exitCode, 0) << result.err;
  if (!terminal) {
    EXPECT_EQ(result.out, "[1 from 1]  big.wav...\n");
    return;
  }
  EXPECT_TRUE(ShowsPercent(result.out, "[1 from 1]  big.wav... ")) << result.out;
  EXPECT_EQ(test::TerminalScreen(result.out, 40), (Screen{"", ""}));
}

INSTANTIATE_TEST_SUITE_P(TerminalOrPipe, ProgressPercentTest,
                         ::testing::Combine(::testing::Bool(), ::testing::Values("-j1", "-j2")));

}  // namespace
}  // namespace tarvix
