#include "jobs/FileMode.h"

#include "frontend/Console.h"

namespace tarvix {

// Conversions arrive with the codec; until then the mode says so and converts nothing.
TRunOutcome RunFileMode(TRunContext& context) {
  context.console.WriteLine("ERROR: file mode is not available yet");
  return TRunOutcome::kRefused;
}

}  // namespace tarvix
