#include "frontend/Console.h"

#include "frontend/TextWidth.h"
#include "platform/Terminal.h"

namespace tarvix {

namespace {

constexpr int kDefaultWidth = 80;

bool IsControlCharacter(char c) {
  auto byte = static_cast<unsigned char>(c);
  return byte < 0x20 || byte == 0x7F;
}

}  // namespace

TConsole::TConsole(TFileHandle fd) : fFd(fd), fIsTerminal(tarvix::IsTerminal(fd)), fFixedWidth(0) {
  fWidth = Width();
}

TConsole::TConsole(TFileHandle fd, bool isTerminal, int width)
    : fFd(fd), fIsTerminal(isTerminal), fFixedWidth(width) {
  fWidth = Width();
}

TConsole::~TConsole() {
  Flush();
}

int TConsole::Width() const {
  if (fFixedWidth > 0) return fFixedWidth;
  const int columns = TerminalColumns(fFd);
  return columns > 0 ? columns : kDefaultWidth;
}

void TConsole::RedirectTo(TFileHandle fd) {
  Flush();
  fFd = fd;
  fIsTerminal = tarvix::IsTerminal(fd);
  fWidth = Width();
}

void TConsole::Track(std::string_view text, int width) {
  for (size_t at = 0; at < text.size();) {
    size_t length = 1;
    const char32_t c = DecodeUtf8(text, at, length);
    at += length;
    if (c == '\n') {
      ++fCursor.row;
      fCursor.column = 0;
    } else if (c == '\r') {
      fCursor.column = 0;
    } else if (const int columns = CodePointColumns(c); columns > 0) {
      // A character written in the last column leaves the cursor there; the next one wraps, and
      // so does a wide one that no longer fits.
      if (fCursor.column + columns > width) {
        ++fCursor.row;
        fCursor.column = 0;
      }
      fCursor.column += columns;
    }
  }
}

void TConsole::Write(std::string_view text) {
  if (!fIsTerminal) {
    Track(text, 1 << 30);
    fPending.append(text);
    return;
  }
  // Names may hold control characters; on a terminal they could move the cursor or change its
  // state, so they are shown as "?".
  std::string shown(text);
  for (char& c : shown) {
    if (c != '\n' && IsControlCharacter(c)) c = '?';
  }
  Track(shown, fWidth);
  fPending.append(shown);
}

void TConsole::WriteLine(std::string_view text) {
  Write(text);
  Write("\n");
}

void TConsole::Flush() {
  WriteAll(fFd, fPending.data(), fPending.size());  // a failure must not stop the conversions
  fPending.clear();
}

void TConsole::SaveStatusPosition() {
  fSaved = fCursor;
  Flush();
}

void TConsole::MoveCursorTo(TPosition target) {
  Flush();  // the text before the move must reach the terminal before the cursor moves
  MoveTerminalCursor(fFd, fCursor.row - target.row, target.column);
  fCursor = target;
}

void TConsole::RestoreStatusPosition() {
  if (fIsTerminal && !fQuiet) MoveCursorTo(fSaved);
}

void TConsole::ClearStatusLine(bool returnCursor) {
  if (!fIsTerminal || fQuiet) return;
  TPosition blankStart = fCursor;
  // Asked once per status line: the user may have resized the window since the last one.
  int width = fWidth = Width();
  // width - 1, not width: a full-width write would move the cursor to the next line.
  if (width > 1) Write(std::string(static_cast<size_t>(width - 1), ' '));
  Flush();
  if (returnCursor) MoveCursorTo(blankStart);
}

void TConsole::ShowProgress(std::string_view text) {
  // width - 1 columns at most, as for the blanks: the line must never wrap, or the cursor
  // could not go back to its start and the next text would leave this one behind.
  Write(FitToColumns(text, fWidth - 1));
  Flush();
}

void TConsole::WriteProgressText(std::string_view text) {
  if (fQuiet) return;
  if (!fIsTerminal) {
    WriteLine(text);
    Flush();
    return;
  }
  fProgress = text;
  ShowProgress(text);
}

void TConsole::ShowProgressPercent(int percent) {
  if (!fIsTerminal || fQuiet) return;
  RestoreStatusPosition();
  ClearStatusLine(true);
  ShowProgress(fProgress + " " + std::to_string(percent) + "%");
}

void TConsole::EndProgressLine() {
  if (fIsTerminal && !fQuiet) Write("\n");
}

void TConsole::CloseStatusLine() {
  if (!fIsTerminal || fQuiet) return;
  RestoreStatusPosition();
  ClearStatusLine(true);
  Write("\n");
  Flush();
}

void TConsole::EndLineForReport() {
  if (fCursor.column != 0) Write("\n");
  Flush();
}

}  // namespace tarvix
