#include "jobs/ItemOutcome.h"

#include "platform/FileSystem.h"

namespace tarvix {

std::string MissingSourceLine(const std::string& source) {
  const std::string reason = ExamineFailure(source);
  if (reason.empty()) return "  ERROR: '" + source + "' doesn't exist.  skipped";
  return "  ERROR: can't examine '" + source + "' (" + reason + ").  skipped";
}

TItemOutcome OutcomeOf(const TPlacement& placement, const std::string& outputAsked) {
  if (!placement.placed) return TItemOutcome::kRefused;
  return placement.finalName == outputAsked ? TItemOutcome::kConverted
                                            : TItemOutcome::kConvertedNumbered;
}

}  // namespace tarvix
