// File mode: the parameters are source files, each optionally followed by its output name.
#pragma once

#include <string>
#include <vector>

#include "jobs/RunContext.h"
#include "jobs/WorkList.h"

namespace tarvix {

// Pairs the parameters into sources and outputs. A parameter with the output extension right
// after a source is that source's output; any other source gets its name with the output
// extension. False (after printing why) when an output name follows an output name.
bool PairFileParameters(const std::vector<std::string>& parameters, TConvertDirection direction,
                        std::vector<TWorkItem>& items, TRunStatus& status);

TRunOutcome RunFileMode(TRunContext& context);

}  // namespace tarvix
