// The options of one run, read from the command line once and only read afterwards, and the
// run context that the drivers and jobs share.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tarvix {

class TConsole;

enum class TConvertDirection : uint8_t { kNotGiven = 0, kWavToNcw = 1, kNcwToWav = 2 };
enum class TRunMode : uint8_t { kNone = 0, kFile = 1, kDirectory = 2, kList = 3 };
enum class TWavHeaderKind : uint8_t { kStandard = 0, kExtended = 1, kAuto = 2 };

struct TRunOptions {
  TConvertDirection direction = TConvertDirection::kNotGiven;
  TRunMode runMode = TRunMode::kNone;
  TWavHeaderKind wavHeaderKind = TWavHeaderKind::kStandard;
  bool recursive = false;
  bool rewrite = false;
  std::vector<std::string> parameters;  // the non-flag parameters in command-line order
  std::string sourceDirectory;          // directory mode only, with a trailing delimiter
  std::string destinationDirectory;     // directory mode only, with a trailing delimiter
};

// Everything one run works with. A test or a fuzz target makes a fresh one per run.
struct TRunContext {
  TRunOptions options;
  TConsole& console;
};

// How a run ended; the process's exit status follows from it.
enum class TRunOutcome {
  kAllConverted,  // every requested conversion succeeded
  kSomeFailed,    // a source was skipped or refused, or an output could not be placed
  kRefused,       // the work list was refused before anything was converted
};

enum TExitStatus : int {
  kExitSuccess = 0,
  kExitFailure = 1,  // a conversion failed or an error ended the run
  kExitRefused = 2,  // the command line, the file-mode pairing or the list file was refused
};

}  // namespace tarvix
