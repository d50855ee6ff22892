#include "jobs/Engine.h"

#include <algorithm>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "jobs/ItemFailure.h"
#include "jobs/ItemOutcome.h"
#include "jobs/JobTable.h"
#include "platform/Errors.h"
#include "platform/FileNames.h"
#include "platform/FileSystem.h"
#include "platform/TempFileCleanup.h"

namespace tarvix {

namespace {

// Items converted ahead of the one whose turn it is, per thread: enough to keep every thread
// busy behind a large file, few enough that their temporary files (each holding a descriptor
// until it is placed) stay few.
constexpr size_t kAheadPerThread = 8;
constexpr size_t kMaxAhead = 128;
// An item in flight holds its source and its temporary file open; the rest of the process (the
// standard streams, a list file, a folder being listed) a few more.
constexpr size_t kDescriptorsPerItem = 2;
constexpr size_t kDescriptorsOfTheRest = 8;

TError NamedForUser(const TError& error, const std::string& sourceName) {
  if (!error.FileName().empty()) return error;
  return TError(error.Message(), sourceName, error.Reason());
}

// The order keeper, on the calling thread: it takes the items in list order, lets those start
// early that cannot depend on earlier ones, and at each item's turn shows its progress text,
// has it converted, and places, numbers and reports its output. The conversions themselves run
// on the job table's workers.
class TOrderKeeper {
 public:
  TOrderKeeper(TWorkSource& work, TRunContext& context)
      : fWork(work),
        fOptions(context.options),
        fStatus(context.status),
        fCounts(context.counts),
        fJobs(context.options, fOptions.threads > 0 ? fOptions.threads : AvailableCores(),
              [this](const TWorkItem& item) { return CheckAtTurn(item); }) {
    fCapacity = fJobs.Workers() == 0 ? 1 : std::min(kAheadPerThread * fJobs.Workers(), kMaxAhead);
    const size_t descriptors = DescriptorLimit();
    if (descriptors != SIZE_MAX) {
      const size_t items = descriptors > kDescriptorsOfTheRest
                               ? (descriptors - kDescriptorsOfTheRest) / kDescriptorsPerItem
                               : 1;
      fCapacity = std::clamp<size_t>(items, 1, fCapacity);
    }
  }

  TRunOutcome Run() {
    bool allConverted = true;
    fStatus.SaveStatusPosition();
    Refill();
    while (fJobs.Size() != 0) {
      const TItemOutcome outcome = TakeTurn(fJobs.Front());
      fCounts.Add(outcome);
      if (outcome == TItemOutcome::kSkippedMissing || outcome == TItemOutcome::kRefused) {
        allConverted = false;
      }
      if (!CountSourceFlags(fJobs.Front(), outcome)) allConverted = false;
      fJobs.DropFront();
      Refill();
    }
    fStatus.CloseStatusLine();
    return allConverted ? TRunOutcome::kAllConverted : TRunOutcome::kSomeFailed;
  }

 private:
  // Shows the item's progress text, makes the checks a run of one file after another makes at
  // this point, has the item converted (if it was not already), and reports and places it.
  // The steps from "finished" to "placed": a check found failing by the thread that opened it
  // is reported as such; a failure is reported, retried alone, or ends the run (ActionOn); a
  // finished output is placed (Commit). Each item's outcome is decided here, once.
  TItemOutcome TakeTurn(TJob& job) {
    fStatus.RestoreStatusPosition();
    fStatus.ClearStatusLine(true);
    fStatus.WriteProgressText(fWork.ProgressText(job.index, job.item));
    const TTurnCheck check = CheckAtTurn(job.item);
    if (check != TTurnCheck::kPassed) {
      fJobs.Discard(job);
      return ReportCheck(check, job.item);
    }
    fJobs.ConvertAtTurn(job);
    const bool othersRan = fJobs.Workers() != 0;
    if (job.failure && ActionOn(*job.failure, othersRan) == TFailureAction::kRetryAlone) {
      fJobs.ConvertAgainAlone(job);
    }
    if (job.conversion && !job.conversion->Notes().empty()) {
      WriteItemLines(job.conversion->Notes());
    }
    TItemOutcome outcome;
    if (job.check != TTurnCheck::kPassed) {
      // The thread that opened it checked after this turn's check and found the output made or
      // the source gone meanwhile (by another run): so it is now.
      outcome = ReportCheck(job.check, job.item);
    } else if (job.failure) {
      outcome = ReportFailure(job);
    } else {
      outcome = Commit(job);
    }
    fJobs.EndTurn();
    return outcome;
  }

  // What a converted (or, under -test, intact) source was found to be besides: a WAV file cut
  // short, which fails the run, or an NCW file without checksums. False for the former.
  bool CountSourceFlags(const TJob& job, TItemOutcome outcome) {
    const bool done =
        outcome == TItemOutcome::kConverted || outcome == TItemOutcome::kConvertedNumbered;
    if (!done || !job.conversion) return true;
    if (job.conversion->WithoutChecksums()) ++fCounts.withoutChecksums;
    if (!job.conversion->CutShort()) return true;
    ++fCounts.cutShort;
    return false;
  }

  TItemOutcome ReportFailure(const TJob& job) {
    switch (ActionOn(*job.failure, false)) {
      case TFailureAction::kReport:
        WriteItemLines(ReportedLines(*job.failure, job.item.output));
        return TItemOutcome::kRefused;
      case TFailureAction::kReportShort:
        WriteItemLines({ShortOfResourceLine(*job.failure, job.item.source)});
        return TItemOutcome::kRefused;
      case TFailureAction::kRetryAlone:
      case TFailureAction::kEndRun:
        break;
    }
    throw NamedForUser(job.failure->error, job.item.source);
  }

  // Lines that stay below the item's progress text.
  void WriteItemLines(const std::vector<std::string>& lines) {
    fStatus.EndProgressLine();
    for (const std::string& line : lines) fStatus.WriteLine(line);
    fStatus.SaveStatusPosition();
  }

  TTurnCheck CheckAtTurn(const TWorkItem& item) const {
    if (fWork.ReportsMissingSources() && !FileExists(item.source)) {
      return TTurnCheck::kMissingSource;
    }
    if (fOptions.skipExisting && NameTaken(item.output)) return TTurnCheck::kOutputExists;
    return TTurnCheck::kPassed;
  }

  TItemOutcome ReportCheck(TTurnCheck check, const TWorkItem& item) {
    if (check == TTurnCheck::kMissingSource) {
      WriteItemLines({MissingSourceLine(item.source)});
      return TItemOutcome::kSkippedMissing;
    }
    WriteItemLines({"  '" + item.output + "' exists already.  skipped"});
    return TItemOutcome::kSkippedExisting;
  }

  TItemOutcome Commit(TJob& job) {
    if (fOptions.test) return TItemOutcome::kConverted;  // read through intact; nothing to place
    TPlacement placement = job.conversion->Place();
    if (placement.folderGone) {
      // The folder was moved away with the finished file in it: the item is converted again
      // into the folder of its name, made anew, as an item that started later would be.
      WriteItemLines({"  note: '" + OutputFolder(job.item.output) + "' was moved or removed while '" +
                      job.item.output + "' was written; it is made again"});
      fJobs.ConvertAgainAlone(job);
      if (job.failure) return ReportFailure(job);
      placement = job.conversion->Place();
    }
    if (!placement.placed && !placement.nameTaken && fJobs.Workers() != 0) {
      fJobs.SetAsideLaterWork();  // their temporary files may have taken the room it needs
      placement = job.conversion->Place();
    }
    if (placement.nameTaken) {
      // -skip: another run made the output while this one converted it.
      return ReportCheck(TTurnCheck::kOutputExists, job.item);
    }
    if (placement.placed) {
      return placement.finalName == job.item.output ? TItemOutcome::kConverted
                                                    : TItemOutcome::kConvertedNumbered;
    }
    WriteItemLines(
        {"  ERROR: can't write '" + placement.finalName + "' (" + placement.reason + ")"});
    return TItemOutcome::kRefused;
  }

  // Takes further items into the window, and lets every waiting one start that may.
  void Refill() {
    std::vector<std::unique_ptr<TJob>> added;
    while (fJobs.Size() + added.size() < fCapacity && !fWorkEnded) {
      auto job = std::make_unique<TJob>();
      if (!fWork.Next(job->item)) {
        fWorkEnded = true;
        break;
      }
      job->index = fNextIndex++;
      job->names = TItemNames(job->item);
      job->sourceIsLink = IsSymbolicLink(job->item.source);
      added.push_back(std::move(job));
    }
    // Folders made at earlier turns let waiting items start. The disk is looked at here, not
    // under the table's lock, which the workers wait for.
    std::string lastFolder;
    bool lastFolderExists = false;
    auto lookAtFolder = [&](TJob& job) {
      if (job.outputFolderExists) return;
      const std::string folder = OutputFolder(job.item.output);
      if (folder.empty()) {
        job.outputFolderExists = true;
        return;
      }
      if (folder != lastFolder) {
        lastFolder = folder;
        lastFolderExists = DirectoryExists(folder);
      }
      job.outputFolderExists = lastFolderExists;
    };
    fJobs.ForEachHeldBack(lookAtFolder);
    for (std::unique_ptr<TJob>& job : added) lookAtFolder(*job);
    // -test writes nothing that a later item could read.
    fJobs.Admit(std::move(added),
                [this](const std::deque<std::unique_ptr<TJob>>& window, size_t position) {
                  return fOptions.test || MayStartEarly(window, position);
                });
  }

  // An item may be converted before its turn when nothing an earlier item does can change its
  // source, and its output folder exists already (folders are made only at an item's turn, so
  // an item discarded later leaves none behind).
  // Called under the table's lock: it compares names only.
  static bool MayStartEarly(const std::deque<std::unique_ptr<TJob>>& window, size_t position) {
    const TJob& job = *window[position];
    if (!job.outputFolderExists) return false;
    if (job.sourceIsLink) return false;  // it may lead to any name
    const std::string& sourceName = job.names.source;
    for (size_t i = 0; i < position; ++i) {
      if (window[i]->names.OutputMayBecome(sourceName)) return false;
    }
    return true;
  }

  TWorkSource& fWork;
  const TRunOptions& fOptions;
  TRunStatus& fStatus;
  TOutcomeCounts& fCounts;
  size_t fCapacity = 1;  // items in the window at most
  size_t fNextIndex = 0;
  bool fWorkEnded = false;
  TJobTable fJobs;  // last: its workers start once everything above exists
};

}  // namespace

TRunOutcome RunConversions(TWorkSource& work, TRunContext& context) {
  TOrderKeeper keeper(work, context);
  return keeper.Run();
}

}  // namespace tarvix
