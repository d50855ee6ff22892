// Why an item failed, classified once, where the job table caught it, and what the order keeper
// does about it: decided from whose fault the failure was (the source's, a resource's that ran
// short, or the output's).
#pragma once

#include <string>
#include <vector>

#include "platform/Errors.h"

namespace tarvix {

enum class TFailureKind {
  kRefused,     // the source is not converted; `lines` say why
  kMismatch,    // -verify: the output did not read back as written; `lines` hold where
  kResource,    // descriptors, memory or threads ran short
  kSpaceTaken,  // the output's disk or quota is full
  kEndsTheRun,  // the output's side failed, or an error that no retry changes
};

struct TItemFailure {
  TFailureKind kind = TFailureKind::kEndsTheRun;
  std::vector<std::string> lines;
  TError error{""};  // kResource, kSpaceTaken and kEndsTheRun: what the system or the item said
};

// The failure that the exception being handled stands for; called only inside a catch block.
TItemFailure ClassifyCurrentException();

enum class TFailureAction {
  kReport,       // the source was refused: its lines are printed and the run goes on
  kRetryAlone,   // others converted at the same time may have caused it: converted again alone
  kReportShort,  // a resource ran short even alone: reported, naming it, and the run goes on
  kEndRun,       // the output's side failed, or an error that no retry changes
};

// The action on `failure`; `othersRan`: other items were converted at the same time.
TFailureAction ActionOn(const TItemFailure& failure, bool othersRan);

// The line of an item that a lack of some resource kept from being converted even alone.
std::string ShortOfResourceLine(const TItemFailure& failure, const std::string& source);

// The lines of an item whose failure the action kReport is for: a refused source's own, or
// those of an output that did not read back as written.
std::vector<std::string> ReportedLines(const TItemFailure& failure, const std::string& output);

}  // namespace tarvix
