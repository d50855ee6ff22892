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

TEST(ConsoleOnTerminal, ProgressTextLongerThanTheLineIsReturnedToItsStart) {
  test::TCapturedConsole captured(10);
  TConsole& console = captured.Console();
  console.SaveStatusPosition();
  console.WriteProgressText("0123456789abcdefghij");  // exactly two rows, cursor waits to wrap
  console.RestoreStatusPosition();
  console.ClearStatusLine(true);
  console.WriteProgressText("short");
  // Only width - 1 cells of the first row are blanked; the last cell and the second row keep
  // what the long text left there.
  EXPECT_EQ(test::TerminalScreen(captured.Text(), 10), (Screen{"short    9", "abcdefghij"}));
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
