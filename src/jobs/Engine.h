// Converting the files of a run: several at once, each large one split over the threads, while
// the outputs are placed, numbered and reported strictly in the order of the work list, so that
// what the user sees (console, names, exit status, a run-ending error) is what one file after
// another would give.
#pragma once

#include <cstddef>
#include <string>

#include "jobs/Conversion.h"
#include "jobs/RunContext.h"

namespace tarvix {

// Where a run's work comes from, one item at a time and in order, and how it is shown.
class TWorkSource {
 public:
  virtual ~TWorkSource() = default;

  // The next item, or false at the end of the list.
  virtual bool Next(TWorkItem& item) = 0;
  // The progress text of item `index` (counted from 0).
  virtual std::string ProgressText(size_t index, const TWorkItem& item) const = 0;
  // True when a missing source is the driver's to report ("doesn't exist.  skipped"); else the
  // job meets it (as directory mode, whose sources were just found, does).
  virtual bool ReportsMissingSources() const = 0;
};

// Converts every item with the run's options and threads, showing each item's progress text
// when its turn comes and its outcome below it. Raises TError for an error that ends the run,
// after discarding what later items had converted already.
TRunOutcome RunConversions(TWorkSource& work, TRunContext& context);

}  // namespace tarvix
