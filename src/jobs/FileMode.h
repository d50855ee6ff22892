// The driver of file mode.
#pragma once

#include "frontend/RunOptions.h"

namespace tarvix {

TRunOutcome RunFileMode(TRunContext& context);

}  // namespace tarvix
