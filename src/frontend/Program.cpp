#include "frontend/Program.h"

#include <new>

#include "batch/DirectoryMode.h"
#include "batch/ListMode.h"
#include "frontend/CommandLine.h"
#include "frontend/Console.h"
#include "jobs/FileMode.h"
#include "platform/Errors.h"
#include "platform/Terminal.h"

namespace tarvix {

namespace {

int ExitStatusOf(TRunOutcome outcome) {
  switch (outcome) {
    case TRunOutcome::kAllConverted:
      return kExitSuccess;
    case TRunOutcome::kSomeFailed:
      return kExitFailure;
    case TRunOutcome::kRefused:
      return kExitRefused;
  }
  return kExitFailure;
}

void ReportError(TConsole& console, TFileHandle errorFd, const std::string& report) {
  console.EndLineForReport();
  std::string line = "ERROR: " + report + "\n";
  WriteAll(errorFd, line.data(), line.size());
}

}  // namespace

std::string ClosingCount(const TOutcomeCounts& tally, bool test) {
  const size_t items = tally.Total();
  std::string line = std::to_string(items);
  line.append(items == 1 ? " file: " : " files: ")
      .append(std::to_string(tally.converted))
      .append(test ? " intact, " : " converted, ")
      .append(std::to_string(tally.skipped))
      .append(" skipped, ")
      .append(std::to_string(tally.refused))
      .append(test ? " damaged" : " refused");
  if (tally.withoutChecksums > 0) {
    line.append("; ").append(std::to_string(tally.withoutChecksums)).append(" without checksums");
  }
  if (tally.numbered == 1) {
    line.append("; 1 under a numbered name");
  } else if (tally.numbered > 1) {
    line.append("; ").append(std::to_string(tally.numbered)).append(" under numbered names");
  }
  if (tally.cutShort > 0) {
    line.append("; ").append(std::to_string(tally.cutShort)).append(" cut short");
  }
  return line;
}

bool ShowsClosingCount(const TRunContext& context) {
  switch (context.options.runMode) {
    case TRunMode::kDirectory:
    case TRunMode::kList:
      return true;
    case TRunMode::kFile:
      return context.counts.Total() > 1;
    case TRunMode::kNone:
      break;
  }
  return false;
}

TRunOutcome RunDriver(TRunContext& context) {
  switch (context.options.runMode) {
    case TRunMode::kFile:
      return RunFileMode(context);
    case TRunMode::kDirectory:
      return RunDirectoryMode(context);
    case TRunMode::kList:
      return RunListMode(context);
    case TRunMode::kNone:
      break;
  }
  return TRunOutcome::kRefused;
}

int RunTarvix(const std::vector<std::string>& args, TConsole& console, TFileHandle errorFd) {
  try {
    TRunContext context{TRunOptions{}, console, TOutcomeCounts{}};
    switch (ParseCommandLine(args, context.options, console)) {
      case TParseResult::kStopped:
        console.Flush();
        return kExitSuccess;
      case TParseResult::kRefused:
        console.Flush();
        return kExitRefused;
      case TParseResult::kRun:
        break;
    }
    console.SetQuiet(context.options.quiet);
    // Standard output carries the converted file: every message goes to standard error.
    const std::vector<std::string>& names = context.options.parameters;
    if (context.options.runMode == TRunMode::kFile && names.size() == 2 && names[1] == kPipeName) {
      console.RedirectTo(errorFd);
    }
    const TRunOutcome outcome = RunDriver(context);
    // After the status line is closed, so that it is the last line of the run.
    if (outcome != TRunOutcome::kRefused && ShowsClosingCount(context)) {
      console.WriteLine(ClosingCount(context.counts, context.options.test));
    }
    const int status = ExitStatusOf(outcome);
    console.Flush();
    return status;
  } catch (const TError& error) {
    ReportError(console, errorFd, error.Report());
  } catch (const std::bad_alloc&) {
    ReportError(console, errorFd, "Not enough memory");
  } catch (const std::exception& error) {
    ReportError(console, errorFd, error.what());
  }
  return kExitFailure;
}

}  // namespace tarvix
