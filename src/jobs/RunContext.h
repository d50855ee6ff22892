// The vocabulary of a run: its options, read from the command line once and only read
// afterwards; the status line the drivers report through; and how a run ends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarvix {

enum class TConvertDirection : uint8_t { kNotGiven = 0, kWavToNcw = 1, kNcwToWav = 2 };
enum class TRunMode : uint8_t { kNone = 0, kFile = 1, kDirectory = 2, kList = 3 };
enum class TWavHeaderKind : uint8_t { kStandard = 0, kExtended = 1, kAuto = 2 };

struct TRunOptions {
  TConvertDirection direction = TConvertDirection::kNotGiven;
  TRunMode runMode = TRunMode::kNone;
  TWavHeaderKind wavHeaderKind = TWavHeaderKind::kStandard;
  bool recursive = false;
  bool rewrite = false;
  bool skipExisting = false;            // -skip: a source whose output exists is not converted
  bool verify = false;                  // -verify: outputs are read back before they are placed
  bool checksums = false;               // -crc: NCW outputs carry CRCs in their reserved bytes
  bool test = false;                    // -test: sources are read through, nothing is written
  int threads = 0;                      // -jN; 0: one per available core
  std::vector<std::string> parameters;  // the non-flag parameters in command-line order
  std::string sourceDirectory;          // directory mode only, with a trailing delimiter
  std::string destinationDirectory;     // directory mode only, with a trailing delimiter
};

// What the drivers tell the user while a run goes on: one status line that each file's progress
// text overwrites, and lines that stay. The console implements it; tests may record it.
class TRunStatus {
 public:
  virtual ~TRunStatus() = default;

  // Remembers the cursor position as the status line's start.
  virtual void SaveStatusPosition() = 0;
  // Moves the cursor back to the remembered position.
  virtual void RestoreStatusPosition() = 0;
  // Blanks the status line from the cursor on; with `returnCursor` the cursor goes back.
  virtual void ClearStatusLine(bool returnCursor) = 0;
  // A progress text, shown at once.
  virtual void WriteProgressText(std::string_view text) = 0;
  // Ends a progress text before lines that must stay below it.
  virtual void EndProgressLine() = 0;
  // A line that stays.
  virtual void WriteLine(std::string_view text) = 0;
  // End of a run: the last progress text is blanked and the line ended.
  virtual void CloseStatusLine() = 0;
};

// What became of one item of a run; the order keeper decides it at the item's turn, once.
enum class TItemOutcome {
  kConverted,          // placed under its own name (or replacing it under -rw)
  kConvertedNumbered,  // placed under a numbered name, its own being taken
  kSkippedExisting,    // -skip: its output exists already (success)
  kSkippedMissing,     // its source does not exist
  kRefused,            // refused, or its output could not be placed
};

// How many items ended each way.
struct TOutcomeCounts {
  size_t converted = 0;  // numbered ones included
  size_t numbered = 0;
  size_t skipped = 0;  // existing outputs and missing sources
  size_t refused = 0;
  size_t cutShort = 0;          // WAV sources converted that declare more than they hold
  size_t withoutChecksums = 0;  // -test: intact NCW sources that carry no checksums

  void Add(TItemOutcome outcome) {
    switch (outcome) {
      case TItemOutcome::kConvertedNumbered:
        ++numbered;
        [[fallthrough]];
      case TItemOutcome::kConverted:
        ++converted;
        break;
      case TItemOutcome::kSkippedExisting:
      case TItemOutcome::kSkippedMissing:
        ++skipped;
        break;
      case TItemOutcome::kRefused:
        ++refused;
        break;
    }
  }
  size_t Total() const { return converted + skipped + refused; }
};

// Everything one run works with. A test or a fuzz target makes a fresh one per run.
struct TRunContext {
  TRunOptions options;
  TRunStatus& status;
  TOutcomeCounts counts;  // filled in as the items' turns pass
};

// How a run ended; the process's exit status follows from it.
enum class TRunOutcome {
  kAllConverted,  // every requested conversion succeeded (or was skipped under -skip)
  kSomeFailed,    // a source was skipped or refused, or an output could not be placed
  kRefused,       // the work list was refused before anything was converted
};

}  // namespace tarvix
