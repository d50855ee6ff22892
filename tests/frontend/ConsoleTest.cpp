#include "frontend/Console.h"

#include <gtest/gtest.h>

#include "support/CapturedConsole.h"
#include "support/ProcessHarness.h"

namespace tarvix {
namespace {

using Screen = std::vector<std::string>;

TEST(ConsoleOnTerminal, ClearWritesWidthLessOneBlanksAndReturnsTheCursor) {
  for (int width : {80, 40, 2}) {
    test::TCapturedConsole captured(width);
    TConsole& console = captured.Console();
    console.SaveStatusPosition();
    console.RestoreStatusPosition();
    console.ClearStatusLine(true);
    EXPECT_EQ(captured.Text(), "\r" + std::string(static_cast<size_t>(width - 1), ' ') + "\r");
  }
  test::TCapturedConsole narrow(1);
  narrow.Console().ClearStatusLine(true);
  EXPECT_EQ(narrow.Text(), "\r");  // a width of 1 writes no blanks
}

TEST(ConsoleOnTerminal, ProgressTextsShareOneLineAndErrorLinesStayAbove) {
  test::TCapturedConsole captured(80);
  TConsole& console = captured.Console();
  console.Write("$ prompt line\n");
  auto progress = [&](const std::string& text) {
    console.RestoreStatusPosition();
    console.ClearStatusLine(true);
    console.WriteProgressText(text);
  };
  console.SaveStatusPosition();
  progress("[1 from 3]  first-file-with-a-long-name.wav...");
  progress("[2 from 3]  second.wav...");
  console.EndProgressLine();
  console.WriteLine("  ERROR: second.wav is not a correct WAV file");
  console.WriteLine("  WAVPARSER: No data chunk found");
  console.SaveStatusPosition();
  progress("[3 from 3]  third.wav...");
  EXPECT_EQ(test::TerminalScreen(captured.Text(), 80),
            (Screen{"$ prompt line", "[2 from 3]  second.wav...",
                    "  ERROR: second.wav is not a correct WAV file",
                    "  WAVPARSER: No data chunk found", "[3 from 3]  third.wav..."}));
  console.CloseStatusLine();
  EXPECT_EQ(test::TerminalScreen(captured.Text(), 80),
            (Screen{"$ prompt line", "[2 from 3]  second.wav...",
                    "  ERROR: second.wav is not a correct WAV file",
                    "  WAVPARSER: No data chunk found", "", ""}));
}

TEST(ConsoleOnTerminal, ProgressTextLongerThanTheLineIsShortenedAndLeavesNothingBehind) {
  test::TCapturedConsole captured(10);
  TConsole& console = captured.Console();
  console.SaveStatusPosition();
  console.WriteProgressText("0123456789abcdefghij");  // two rows, were it shown whole
  EXPECT_EQ(test::TerminalScreen(captured.Text(), 10), (Screen{"0123\u2026ghij"}));
  console.RestoreStatusPosition();
  console.ClearStatusLine(true);
  console.WriteProgressText("short");
  EXPECT_EQ(test::TerminalScreen(captured.Text(), 10), (Screen{"short"}));
}

// The percentage rewrites the status line in place, shortened like the text; nothing of it
// shows where the status line cannot be rewritten, nor under -q.
TEST(ConsoleOnTerminal, PercentFollowsTheProgressTextOnlyOnATerminal) {
  const std::string text = "[1 from 1]  Kit/Drums/Close/Legato mic Close RR1.wav...";
  const struct {
    int width;  // 0: a pipe
    bool quiet;
    Screen screen;
  } cases[] = {
      {80, false, {text + " 42%"}},
      {50, false, {"[1 from 1]  Kit/\u2026/Legato mic Close RR1.wav... 42%"}},
      {30, false, {"[1 from 1]  Ki\u2026RR1.wav... 42%"}},
      {0, false, {text}},
      {80, true, {}},
      {0, true, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << (c.quiet ? " quiet" : ""));
    test::TCapturedConsole captured(c.width);
    TConsole& console = captured.Console();
    console.SetQuiet(c.quiet);
    console.SaveStatusPosition();
    console.RestoreStatusPosition();
    console.ClearStatusLine(true);
    console.WriteProgressText(text);
    console.ShowProgressPercent(7);
    console.ShowProgressPercent(42);
    const std::string out = captured.Text();
    if (c.width == 0) {
      EXPECT_EQ(test::Lines(out), c.screen);
    } else {
      Screen screen = test::TerminalScreen(out, c.width);
      if (screen == Screen{""}) screen.clear();
      EXPECT_EQ(screen, c.screen);
    }
  }
}

TEST(ConsoleOnTerminal, WideCharactersAreTrackedByTheirColumns) {
  // 16 wide characters take 32 columns: on a terminal of 30 the last one wraps, so going back
  // to the start means one row up.
  std::string wide;
  for (int i = 0; i < 16; ++i) wide += "\u65e5";
  test::TCapturedConsole captured(30);
  TConsole& console = captured.Console();
  console.SaveStatusPosition();
  console.Write(wide);
  console.RestoreStatusPosition();
  console.ClearStatusLine(true);
  console.WriteProgressText("cafe\u0301.wav...");
  EXPECT_EQ(test::TerminalScreen(captured.Text(), 30), (Screen{"cafe\u0301.wav...", "\u65e5"}));
}

TEST(ConsoleOnTerminal, ControlCharactersInNamesAreShownAsQuestionMarks) {
  test::TCapturedConsole captured(80);
  captured.Console().WriteProgressText("evil\x1b[2Jname\r.wav...");
  EXPECT_EQ(captured.Text(), "evil?[2Jname?.wav...");
}

TEST(ConsoleRedirected, ProgressTextsBecomeLinesAndTheStatusLineIsNotDrawn) {
  test::TCapturedConsole captured;
  TConsole& console = captured.Console();
  console.SaveStatusPosition();
  console.RestoreStatusPosition();
  console.ClearStatusLine(true);
  console.WriteProgressText("[1 from 2]  a.wav...");
  console.EndProgressLine();
  console.WriteLine("  ERROR: 'a.wav' doesn't exist.  skipped");
  console.SaveStatusPosition();
  console.RestoreStatusPosition();
  console.ClearStatusLine(true);
  console.WriteProgressText("[2 from 2]  b\x1b.wav...");
  console.CloseStatusLine();
  EXPECT_EQ(captured.Text(),
            "[1 from 2]  a.wav...\n  ERROR: 'a.wav' doesn't exist.  skipped\n"
            "[2 from 2]  b\x1b.wav...\n");
}

TEST(ConsoleReport, EndsAnOpenLineOnlyWhenOneIsOpen) {
  test::TCapturedConsole terminal(80);
  terminal.Console().WriteProgressText("x.ncw...");
  terminal.Console().EndLineForReport();
  terminal.Console().EndLineForReport();
  EXPECT_EQ(terminal.Text(), "x.ncw...\n");
  test::TCapturedConsole piped;
  piped.Console().WriteProgressText("x.ncw...");
  piped.Console().EndLineForReport();
  EXPECT_EQ(piped.Text(), "x.ncw...\n");
}

}  // namespace
}  // namespace tarvix
