// What the order keeper does about an item that failed, decided from whose fault the failure
// was: the source's, a resource's that ran short, or the output's.
#pragma once

#include <exception>
#include <string>
#include <vector>

namespace tarvix {

enum class TFailureAction {
  kReport,       // the source was refused: its lines are printed and the run goes on
  kRetryAlone,   // others converted at the same time may have caused it: converted again alone
  kReportShort,  // a resource ran short even alone: reported, naming it, and the run goes on
  kEndRun,       // the output's side failed, or an error that no retry changes
};

// The action on `failure` (raised by an item's conversion); `othersRan`: other items were
// converted at the same time.
TFailureAction ActionOn(const std::exception_ptr& failure, bool othersRan);

// The line of an item that a lack of some resource kept from being converted even alone.
std::string ShortOfResourceLine(const std::exception_ptr& failure, const std::string& source);

// The lines of an item whose failure the action kReport is for: a refused source's own, or
// those of an output that did not read back as written.
std::vector<std::string> ReportedLines(const std::exception_ptr& failure, const std::string& output);

}  // namespace tarvix
