#include "batch/ListMode.h"

#include "frontend/Console.h"

namespace tarvix {

// Conversions arrive with the codec; until then the mode says so and converts nothing.
TRunOutcome RunListMode(TRunContext& context) {
  context.console.WriteLine("ERROR: list mode is not available yet");
  return TRunOutcome::kRefused;
}

}  // namespace tarvix
