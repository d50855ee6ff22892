#include "platform/Terminal.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

namespace tarvix {

TFileHandle StandardInput() {
  return STDIN_FILENO;
}

TFileHandle StandardOutput() {
  return STDOUT_FILENO;
}

TFileHandle StandardError() {
  return STDERR_FILENO;
}

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

bool IsTerminal(TFileHandle stream) {
  return ::isatty(static_cast<int>(stream)) == 1;
}

int TerminalColumns(TFileHandle stream) {
  struct winsize size = {};
  if (::ioctl(static_cast<int>(stream), TIOCGWINSZ, &size) == 0) return size.ws_col;
  return 0;
}

bool WriteAll(TFileHandle stream, const char* data, size_t size) {
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::write(static_cast<int>(stream), data + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

void MoveTerminalCursor(TFileHandle stream, int64_t rowsUp, int column) {
  std::string move = "\r";
  if (rowsUp > 0) move += "\x1b[" + std::to_string(rowsUp) + "A";
  if (rowsUp < 0) move += "\x1b[" + std::to_string(-rowsUp) + "B";
  if (column > 0) move += "\x1b[" + std::to_string(column) + "C";
  WriteAll(stream, move.data(), move.size());
}

}  // namespace tarvix
