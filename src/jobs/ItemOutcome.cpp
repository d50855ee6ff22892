#include "jobs/ItemOutcome.h"

#include "platform/FileSystem.h"

namespace tarvix {

std::string MissingSourceLine(const std::string& source) {
  const TSystemResult examined = Examine(source);
  if (examined.Ok()) return "  ERROR: '" + source + "' doesn't exist.  skipped";
  return "  ERROR: can't examine '" + source + "' (" + examined.Reason() + ").  skipped";
}

}  // namespace tarvix
