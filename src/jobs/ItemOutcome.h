// What became of an item, in the words the user reads and in the run's tally.
#pragma once

#include <string>

#include "jobs/OutputNaming.h"
#include "jobs/RunContext.h"

namespace tarvix {

// The line for a source that is not there to convert: it does not exist, or it cannot even be
// examined (a folder on its way that may not be entered), which is told with the reason.
std::string MissingSourceLine(const std::string& source);

// A placed output counts as numbered when it did not get the name asked for.
TItemOutcome OutcomeOf(const TPlacement& placement, const std::string& outputAsked);

}  // namespace tarvix
