#include "batch/DirectoryMode.h"

#include "frontend/Console.h"

namespace tarvix {

// Conversions arrive with the codec; until then the mode says so and converts nothing.
TRunOutcome RunDirectoryMode(TRunContext& context) {
  context.console.WriteLine("ERROR: directory mode is not available yet");
  return TRunOutcome::kRefused;
}

}  // namespace tarvix
