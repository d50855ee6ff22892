// The console of standard output and its status line: each file's progress text is written at
// one remembered position, the previous one blanked first, and error lines stay visible below.
//
// On a terminal the cursor is moved by the terminal's control sequences, or by the console's own
// calls on Windows; the unit follows the cursor through everything it writes, so it knows where the
// remembered position lies without asking the terminal. Anything else (a pipe, a log file) gets no
// status line: each progress text becomes a line of its own, so a log shows one line per file with
// its errors below it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "jobs/RunContext.h"
#include "platform/FileHandle.h"

namespace tarvix {

class TConsole final : public TRunStatus {
 public:
  // Binds to `fd` and asks whether it is a terminal.
  explicit TConsole(TFileHandle fd);
  // For tests: behaves as a terminal of `width` columns (or as no terminal) whatever `fd` is.
  TConsole(TFileHandle fd, bool isTerminal, int width);
  ~TConsole() override;
  TConsole(const TConsole&) = delete;
  TConsole& operator=(const TConsole&) = delete;

  bool IsTerminal() const { return fIsTerminal; }
  // -q: no progress texts and no status line; the lines that stay are still written.
  void SetQuiet(bool quiet) { fQuiet = quiet; }
  // From now on writes to `fd` instead (standard error, when standard output carries data).
  void RedirectTo(TFileHandle fd);

  void Write(std::string_view text);
  void WriteLine(std::string_view text) override;
  void WriteLine() { WriteLine({}); }
  void Flush();

  // Remembers the cursor position as the status line's start.
  void SaveStatusPosition() override;
  // Moves the cursor back to the remembered position.
  void RestoreStatusPosition() override;
  // Blanks width - 1 cells from the cursor on; with `returnCursor` the cursor goes back to
  // where the blanks began.
  void ClearStatusLine(bool returnCursor) override;

  // A progress text: on a terminal without a line end and shortened to the line's width, else
  // as a whole line; flushed.
  void WriteProgressText(std::string_view text) override;
  // On a terminal: the last progress text again, with " N%" after it.
  void ShowProgressPercent(int percent) override;
  // The line end that ends a progress text before error lines (a terminal only: elsewhere the
  // progress line is already ended).
  void EndProgressLine() override;
  // End of a run: the last progress text is blanked and the line ended.
  void CloseStatusLine() override;
  // Before a report on standard error: ends a line that is still open, so the report starts on
  // a fresh line.
  void EndLineForReport();

  // The width used for the status line: the terminal's, or 80 when it cannot be read.
  int Width() const;

 private:
  struct TPosition {
    int64_t row = 0;  // rows below the first row the unit wrote on; grows without bound
    int column = 0;   // 0-based; equal to the width while the terminal waits to wrap
  };

  void Track(std::string_view text, int width);  // moves fCursor as the terminal would
  void ShowProgress(std::string_view text);      // fitted to the line, without a line end
  void MoveCursorTo(TPosition target);

  TFileHandle fFd;
  bool fIsTerminal;
  bool fQuiet = false;
  int fFixedWidth;        // > 0: the width to use instead of asking the terminal
  int fWidth;             // the width last asked for
  std::string fPending;   // written but not yet flushed
  TPosition fCursor;      // where the terminal's cursor is
  TPosition fSaved;       // the status line's start
  std::string fProgress;  // the last progress text as given, for the percentage after it
};

}  // namespace tarvix
