#include "platform/Terminal.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

namespace tarvix {

int StandardOutput() {
  return STDOUT_FILENO;
}

int StandardError() {
  return STDERR_FILENO;
}

bool IsTerminal(int fd) {
  return ::isatty(fd) == 1;
}

int TerminalColumns(int fd) {
  struct winsize size = {};
  if (::ioctl(fd, TIOCGWINSZ, &size) == 0) return size.ws_col;
  return 0;
}

bool WriteAll(int fd, const char* data, size_t size) {
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::write(fd, data + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace tarvix
