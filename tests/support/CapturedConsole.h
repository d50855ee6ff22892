// A console whose output lands in memory, for running the front end and drivers in-process.
#pragma once

#include <memory>
#include <string>

#include "frontend/Console.h"

namespace tarvix::test {

class TCapturedConsole {
 public:
  // `terminalWidth` > 0 makes the console behave as a terminal of that width.
  explicit TCapturedConsole(int terminalWidth = 0);
  ~TCapturedConsole();

  TConsole& Console() { return *fConsole; }
  // Everything written so far.
  std::string Text();

 private:
  int fFd;
  std::unique_ptr<TConsole> fConsole;
};

}  // namespace tarvix::test
