// The driver of list mode.
#pragma once

#include "frontend/RunOptions.h"

namespace tarvix {

TRunOutcome RunListMode(TRunContext& context);

}  // namespace tarvix
