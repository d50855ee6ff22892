// Converting a list of (source, output) pairs one after another on the status line, as file
// mode and list mode do.
#pragma once

#include <string>
#include <vector>

#include "frontend/RunOptions.h"

namespace tarvix {

struct TWorkItem {
  std::string source;
  std::string output;
  TConvertDirection direction;
};

// Shows "[i from n]  source..." for each pair, skips sources that do not exist with an error
// line, calls the job of the pair's direction, and ends by blanking the status line.
TRunOutcome ConvertWorkList(const std::vector<TWorkItem>& items, TRunContext& context);

}  // namespace tarvix
