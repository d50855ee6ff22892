#include "support/CapturedConsole.h"

#include <sys/mman.h>
#include <unistd.h>

#include <stdexcept>

namespace tarvix::test {

TCapturedConsole::TCapturedConsole(int terminalWidth) : fFd(::memfd_create("console", 0)) {
  if (fFd < 0) throw std::runtime_error("memfd_create failed");
  fConsole = std::make_unique<TConsole>(fFd, terminalWidth > 0, terminalWidth);
}

TCapturedConsole::~TCapturedConsole() {
  fConsole.reset();
  ::close(fFd);
}

std::string TCapturedConsole::Text() {
  fConsole->Flush();
  std::string text;
  char buffer[4096];
  off_t offset = 0;
  ssize_t n;
  while ((n = ::pread(fFd, buffer, sizeof buffer, offset)) > 0) {
    text.append(buffer, static_cast<size_t>(n));
    offset += n;
  }
  return text;
}

}  // namespace tarvix::test
