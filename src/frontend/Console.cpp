#include "frontend/Console.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

namespace tarvix {

namespace {

constexpr int kDefaultWidth = 80;

bool IsControlCharacter(char c) {
  auto byte = static_cast<unsigned char>(c);
  return byte < 0x20 || byte == 0x7F;
}

bool IsUtf8Continuation(char c) {
  return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

}  // namespace

TConsole::TConsole(int fd) : fFd(fd), fIsTerminal(::isatty(fd) == 1), fFixedWidth(0) {
  fWidth = Width();
}

TConsole::TConsole(int fd, bool isTerminal, int width)
    : fFd(fd), fIsTerminal(isTerminal), fFixedWidth(width) {
  fWidth = Width();
}

TConsole::~TConsole() {
  Flush();
}

int TConsole::Width() const {
  if (fFixedWidth > 0) return fFixedWidth;
  struct winsize size = {};
  if (::ioctl(fFd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return kDefaultWidth;
}

void TConsole::Track(std::string_view text, int width) {
  for (char c : text) {
    if (c == '\n') {
      ++fCursor.row;
      fCursor.column = 0;
    } else if (c == '\r') {
      fCursor.column = 0;
    } else if (!IsUtf8Continuation(c)) {
      // A character written in the last column leaves the cursor there; the next one wraps.
      if (fCursor.column >= width) {
        ++fCursor.row;
        fCursor.column = 0;
      }
      ++fCursor.column;
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

void TConsole::WriteRaw(std::string_view bytes) {
  fPending.append(bytes);
}

void TConsole::Flush() {
  size_t done = 0;
  while (done < fPending.size()) {
    ssize_t n = ::write(fFd, fPending.data() + done, fPending.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // a console that cannot be written must not stop the conversions
    done += static_cast<size_t>(n);
  }
  fPending.clear();
}

void TConsole::SaveStatusPosition() {
  fSaved = fCursor;
  Flush();
}

void TConsole::MoveCursorTo(TPosition target) {
  WriteRaw("\r");
  if (target.row < fCursor.row) {
    WriteRaw("\x1b[" + std::to_string(fCursor.row - target.row) + "A");
  } else if (target.row > fCursor.row) {
    WriteRaw("\x1b[" + std::to_string(target.row - fCursor.row) + "B");
  }
  if (target.column > 0) WriteRaw("\x1b[" + std::to_string(target.column) + "C");
  fCursor = target;
}

void TConsole::RestoreStatusPosition() {
  if (fIsTerminal) MoveCursorTo(fSaved);
}

void TConsole::ClearStatusLine(bool returnCursor) {
  if (!fIsTerminal) return;
  TPosition blankStart = fCursor;
  // Asked once per status line: the user may have resized the window since the last one.
  int width = fWidth = Width();
  // width - 1, not width: a full-width write would move the cursor to the next line.
  if (width > 1) Write(std::string(static_cast<size_t>(width - 1), ' '));
  Flush();
  if (returnCursor) MoveCursorTo(blankStart);
}

void TConsole::WriteProgressText(std::string_view text) {
  Write(text);
  if (!fIsTerminal) Write("\n");
  Flush();
}

void TConsole::EndProgressLine() {
  if (fIsTerminal) Write("\n");
}

void TConsole::CloseStatusLine() {
  if (!fIsTerminal) return;
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
