// List mode: a text file names the files to convert, optionally each with its output name; the
// direction is chosen per file from its extension.
#pragma once

#include <string>
#include <vector>

#include "jobs/RunContext.h"
#include "jobs/WorkList.h"

namespace tarvix {

// Validates the lines of a list file and builds its work list. False (after printing the
// first failed check) when the list is refused; nothing is converted then.
bool BuildListWorkItems(const std::vector<std::string>& lines, std::vector<TWorkItem>& items,
                        TRunStatus& status);

TRunOutcome RunListMode(TRunContext& context);

}  // namespace tarvix
