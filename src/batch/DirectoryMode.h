// Directory mode: every file of one format in the source directory (and below it with the
// recursive flag) is converted into the destination directory at the same relative path.
#pragma once

#include "jobs/RunContext.h"

namespace tarvix {

TRunOutcome RunDirectoryMode(TRunContext& context);

}  // namespace tarvix
