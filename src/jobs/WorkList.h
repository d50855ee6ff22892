// Converting a list of (source, output) pairs known in advance, as file mode and list mode do:
// each shown as "[i from n]  source...", a missing source reported and skipped.
#pragma once

#include <vector>

#include "jobs/Conversion.h"
#include "jobs/RunContext.h"

namespace tarvix {

TRunOutcome ConvertWorkList(const std::vector<TWorkItem>& items, TRunContext& context);

}  // namespace tarvix
