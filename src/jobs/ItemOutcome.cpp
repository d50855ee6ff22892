#include "jobs/ItemOutcome.h"

#include "platform/FileSystem.h"

namespace tarvix {

std::string MissingSourceLine(const std::string& source) {
  const std::string reason = ExamineFailure(source);
  if (reason.empty()) return "  ERROR: '" + source + "' doesn't exist.  skipped";
  return "  ERROR: can't examine '" + source + "' (" + reason + ").  skipped";
}

}  // namespace tarvix
