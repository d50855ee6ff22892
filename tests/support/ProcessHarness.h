// Runs a program as a child process and captures what it writes and how it ends: through pipes,
// or with standard output on a pseudo-terminal of a given width.
#pragma once

#include <sys/resource.h>
#include <sys/types.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tarvix::test {

struct TProcessOptions {
  std::string workingDirectory;                // empty: the test's own
  std::optional<int> terminalWidth;            // set: standard output is a terminal this wide
  std::vector<std::pair<int, rlim_t>> limits;  // setrlimit(resource, value) in the child
  std::optional<mode_t> umask;                 // set: the child's umask
  bool asUnprivileged = false;                 // when run as root: the child runs as nobody
  std::vector<std::pair<std::string, std::string>> environment;  // set in the child
  double timeoutSeconds = 120;  // the child is killed after this long
};

struct TProcessResult {
  std::string out;     // standard output, byte for byte (no CR added on a terminal)
  std::string err;     // standard error
  int exitCode = -1;   // when it exited
  int termSignal = 0;  // when a signal ended it
  bool timedOut = false;
  long peakResidentKb = 0;  // the child's peak resident memory
};

// A running child; Wait collects its output and status.
class TChildProcess {
 public:
  TChildProcess(const std::string& program, const std::vector<std::string>& args,
                const TProcessOptions& options = {});
  ~TChildProcess();
  TChildProcess(const TChildProcess&) = delete;
  TChildProcess& operator=(const TChildProcess&) = delete;

  pid_t Pid() const { return fPid; }
  void Signal(int signalNumber);
  TProcessResult Wait();

 private:
  pid_t fPid = -1;
  int fOutFd = -1;
  int fErrFd = -1;
  double fTimeoutSeconds;
  bool fWaited = false;
};

TProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                          const TProcessOptions& options = {});

// The tarvix program under test.
std::string TarvixBinary();
// The same program built without sanitizers, for runs under an address-space limit.
std::string PlainTarvixBinary();

TProcessResult RunTarvix(const std::vector<std::string>& args, const TProcessOptions& options = {});

// Splits text into lines at "\n" (a last line without one counts); used to compare output.
std::vector<std::string> Lines(const std::string& text);

// What a terminal of `width` columns shows after receiving `bytes`: the rows from the first
// to the last one written, trailing blanks removed. Understands "\r", "\n" (as a new line at
// column 0), cursor up/down/forward sequences and deferred wrapping in the last column; UTF-8
// characters take the columns the C library gives them (wide ones two, combining marks none).
std::vector<std::string> TerminalScreen(const std::string& bytes, int width);

}  // namespace tarvix::test
