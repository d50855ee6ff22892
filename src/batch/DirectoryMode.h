// The driver of directory mode.
#pragma once

#include "frontend/RunOptions.h"

namespace tarvix {

TRunOutcome RunDirectoryMode(TRunContext& context);

}  // namespace tarvix
