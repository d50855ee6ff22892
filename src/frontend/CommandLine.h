// The command line: flags, non-flag parameters, their validation and the choice of run mode.
#pragma once

#include <string>
#include <vector>

#include "jobs/RunContext.h"

namespace tarvix {

class TConsole;

enum class TParseResult {
  kRun,      // a run mode was chosen and its options are valid
  kStopped,  // the usage text, the help text or the version was shown
  kRefused,  // an error of the command line was shown
};

// Reads `args` (the parameters after the program name) into `options`: the flags while they
// are allowed, then every parameter as a non-flag one; validates them and chooses the run mode.
// Usage, help, the version and errors go to `console`.
TParseResult ParseCommandLine(const std::vector<std::string>& args, TRunOptions& options,
                              TConsole& console);

}  // namespace tarvix
