// The program's entry logic, apart from the process itself so that tests and fuzz targets can
// run it in-process.
#pragma once

#include <string>
#include <vector>

#include "jobs/RunContext.h"
#include "platform/FileHandle.h"

namespace tarvix {

class TConsole;

enum TExitStatus : int {
  kExitSuccess = 0,
  kExitFailure = 1,  // a conversion failed or an error ended the run
  kExitRefused = 2,  // the command line, the file-mode pairing or the list file was refused
};

// Runs the driver of the chosen run mode.
TRunOutcome RunDriver(TRunContext& context);

// The line that closes a run of several sources: "N files: C converted, S skipped, R refused",
// with "; K under numbered names" when some outputs were numbered and "; K cut short" for WAV
// sources that hold less than they declare. Under -test (`test`): "N files: C intact, S skipped,
// D damaged", with "; K without checksums" for NCW sources that carry none.
std::string ClosingCount(const TOutcomeCounts& tally, bool test = false);

// Whether the run ends with that line: directory and list mode always do, file mode when it
// had more than one source.
bool ShowsClosingCount(const TRunContext& context);

// Parses `args` (the parameters after the program name), runs the chosen mode and returns the
// exit status. An error that ends the run is reported as one line on `errorFd`.
int RunTarvix(const std::vector<std::string>& args, TConsole& console, TFileHandle errorFd);

}  // namespace tarvix
