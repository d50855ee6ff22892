#include "support/ProcessHarness.h"

#include <fcntl.h>
#include <grp.h>
#include <locale.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>
#include <wchar.h>

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <cwchar>
#include <stdexcept>

namespace tarvix::test {

namespace {

double Now() {
  timespec ts;
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

[[noreturn]] void ExecChild(const std::string& program, const std::vector<std::string>& args,
                            const TProcessOptions& options) {
  // Built before the limits are set: under the sanitizers an allocation may map memory, which an
  // address-space limit then refuses.
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  if (!options.workingDirectory.empty() && ::chdir(options.workingDirectory.c_str()) != 0) {
    ::_exit(127);
  }
  for (const auto& [resource, value] : options.limits) {
    rlimit limit{value, value};
    ::setrlimit(resource, &limit);
  }
  if (options.umask) ::umask(*options.umask);
  for (const auto& [name, value] : options.environment) ::setenv(name.c_str(), value.c_str(), 1);
  if (options.asUnprivileged && ::geteuid() == 0) {
    // Permissions mean nothing to root; nobody sees them as a user would.
    if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(126);
  }
  // Start from default signal dispositions whatever the test process set.
  for (int s : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGXFSZ}) ::signal(s, SIG_DFL);
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  ::execv(program.c_str(), argv.data());
  ::_exit(127);
}

void ReadAvailable(int& fd, std::string& into) {
  char buffer[65536];
  ssize_t n = ::read(fd, buffer, sizeof buffer);
  if (n > 0) {
    into.append(buffer, static_cast<size_t>(n));
  } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
    ::close(fd);  // end of data; on a terminal the end shows up as EIO
    fd = -1;
  }
}

}  // namespace

TChildProcess::TChildProcess(const std::string& program, const std::vector<std::string>& args,
                             const TProcessOptions& options)
    : fTimeoutSeconds(options.timeoutSeconds) {
  int errPipe[2];
  if (::pipe2(errPipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  int outRead = -1, outWrite = -1;
  if (options.terminalWidth) {
    winsize size = {};
    size.ws_col = static_cast<unsigned short>(*options.terminalWidth);
    size.ws_row = 50;
    if (::openpty(&outRead, &outWrite, nullptr, nullptr, &size) != 0) {
      throw std::runtime_error("openpty failed");
    }
    // Capture the bytes exactly as written: no CR added before each LF.
    termios mode;
    ::tcgetattr(outWrite, &mode);
    mode.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    ::tcsetattr(outWrite, TCSANOW, &mode);
  } else {
    int outPipe[2];
    if (::pipe2(outPipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    outRead = outPipe[0];
    outWrite = outPipe[1];
  }
  fPid = ::fork();
  if (fPid < 0) throw std::runtime_error("fork failed");
  if (fPid == 0) {
    if (options.terminalWidth) {
      ::setsid();
      ::ioctl(outWrite, TIOCSCTTY, 0);
    }
    int devNull = ::open("/dev/null", O_RDONLY);
    ::dup2(devNull, STDIN_FILENO);
    ::dup2(outWrite, STDOUT_FILENO);
    ::dup2(errPipe[1], STDERR_FILENO);
    // The program starts with the standard streams only, as from a shell.
    ::close_range(3, ~0u, 0);
    ExecChild(program, args, options);
  }
  ::close(outWrite);
  ::close(errPipe[1]);
  fOutFd = outRead;
  fErrFd = errPipe[0];
}

TChildProcess::~TChildProcess() {
  if (!fWaited && fPid > 0) {
    ::kill(fPid, SIGKILL);
    Wait();
  }
}

void TChildProcess::Signal(int signalNumber) {
  ::kill(fPid, signalNumber);
}

TProcessResult TChildProcess::Wait() {
  TProcessResult result;
  double deadline = Now() + fTimeoutSeconds;
  while (fOutFd >= 0 || fErrFd >= 0) {
    pollfd fds[2] = {{fOutFd, POLLIN, 0}, {fErrFd, POLLIN, 0}};
    int ready = ::poll(fds, 2, 200);
    if (ready < 0 && errno != EINTR) break;
    if (fOutFd >= 0 && (fds[0].revents & (POLLIN | POLLHUP | POLLERR))) {
      ReadAvailable(fOutFd, result.out);
    }
    if (fErrFd >= 0 && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) {
      ReadAvailable(fErrFd, result.err);
    }
    if (Now() > deadline && !result.timedOut) {
      result.timedOut = true;
      ::kill(fPid, SIGKILL);
    }
    // A terminal's master stays readable-less after the child exits if nothing else holds it.
    int status;
    rusage usage{};
    if (fOutFd >= 0 && fErrFd < 0 && ::wait4(fPid, &status, WNOHANG, &usage) == fPid) {
      result.peakResidentKb = usage.ru_maxrss;
      while (fOutFd >= 0) ReadAvailable(fOutFd, result.out);
      fWaited = true;
      if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
      if (WIFSIGNALED(status)) result.termSignal = WTERMSIG(status);
      return result;
    }
  }
  if (fOutFd >= 0) ::close(fOutFd);
  if (fErrFd >= 0) ::close(fErrFd);
  fOutFd = fErrFd = -1;
  int status = 0;
  rusage usage{};
  while (::wait4(fPid, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  result.peakResidentKb = usage.ru_maxrss;
  fWaited = true;
  if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.termSignal = WTERMSIG(status);
  return result;
}

TProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                          const TProcessOptions& options) {
  TChildProcess child(program, args, options);
  return child.Wait();
}

std::string TarvixBinary() {
  if (const char* override = std::getenv("TARVIX_BINARY")) return override;
  return TARVIX_BINARY_PATH;
}

std::string PlainTarvixBinary() {
  return TARVIX_PLAIN_BINARY_PATH;
}

TProcessResult RunTarvix(const std::vector<std::string>& args, const TProcessOptions& options) {
  return RunProcess(TarvixBinary(), args, options);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

std::vector<std::string> TerminalScreen(const std::string& bytes, int width) {
  // One cell per column: the bytes of the character shown there ("" for the right half of a
  // wide one). Widths are the C library's, so the program's own table is checked against them.
  using Row = std::vector<std::string>;
  std::vector<Row> rows(1, Row(static_cast<size_t>(width), " "));
  size_t row = 0;
  int column = 0;
  auto ensureRow = [&](size_t r) {
    while (rows.size() <= r) rows.emplace_back(static_cast<size_t>(width), " ");
  };
  locale_t utf8 = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
  if (utf8 == static_cast<locale_t>(nullptr)) throw std::runtime_error("no C.UTF-8 locale");
  locale_t previous = ::uselocale(utf8);
  for (size_t i = 0; i < bytes.size(); ++i) {
    char c = bytes[i];
    if (c == '\n') {
      ensureRow(++row);
      column = 0;
    } else if (c == '\r') {
      column = 0;
    } else if (c == '\x1b' && i + 1 < bytes.size() && bytes[i + 1] == '[') {
      size_t j = i + 2;
      int count = 0;
      while (j < bytes.size() && bytes[j] >= '0' && bytes[j] <= '9') {
        count = count * 10 + (bytes[j++] - '0');
      }
      if (j >= bytes.size()) break;
      count = count == 0 ? 1 : count;
      char command = bytes[j];
      if (command == 'A') row = row >= static_cast<size_t>(count) ? row - count : 0;
      if (command == 'B') ensureRow(row += static_cast<size_t>(count));
      if (command == 'C') column = std::min(width - 1, column + count);
      i = j;
    } else {
      std::mbstate_t state{};
      wchar_t wide = 0;
      size_t length = std::mbrtowc(&wide, bytes.data() + i, bytes.size() - i, &state);
      int columns = 1;
      if (length == static_cast<size_t>(-1) || length == static_cast<size_t>(-2) || length == 0) {
        length = 1;  // not a character: one cell, as a terminal shows a replacement
      } else {
        columns = ::wcwidth(wide);
        if (columns < 0) columns = 1;
      }
      std::string shown = bytes.substr(i, length);
      i += length - 1;
      if (columns == 0) {  // drawn on the character before it
        if (column > 0) rows[row][static_cast<size_t>(column - 1)] += shown;
        continue;
      }
      if (column + columns > width) {
        ensureRow(++row);
        column = 0;
      }
      rows[row][static_cast<size_t>(column)] = shown;
      if (columns == 2) rows[row][static_cast<size_t>(column + 1)] = "";
      column += columns;
    }
  }
  ::uselocale(previous);
  ::freelocale(utf8);
  std::vector<std::string> screen;
  for (const Row& cells : rows) {
    std::string text;
    for (const std::string& cell : cells) text += cell;
    size_t end = text.find_last_not_of(' ');
    text.erase(end == std::string::npos ? 0 : end + 1);
    screen.push_back(text);
  }
  return screen;
}

}  // namespace tarvix::test
