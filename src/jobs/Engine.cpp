#include "jobs/Engine.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "jobs/ItemFailure.h"
#include "platform/Errors.h"
#include "platform/FileNames.h"
#include "platform/FileSystem.h"
#include "platform/TempFileCleanup.h"

namespace tarvix {

namespace {

constexpr size_t kNone = static_cast<size_t>(-1);
// Items converted ahead of the one whose turn it is, per thread: enough to keep every thread
// busy behind a large file, few enough that their temporary files (each holding a descriptor
// until it is placed) stay few.
constexpr size_t kAheadPerThread = 8;
constexpr size_t kMaxAhead = 128;
// An item in flight holds its source and its temporary file open; the rest of the process (the
// standard streams, a list file, a folder being listed) a few more.
constexpr size_t kDescriptorsPerItem = 2;
constexpr size_t kDescriptorsOfTheRest = 8;
// The buffers of the runs in flight together: each thread may hold a run of an ordinary file,
// and a file of very many channels, whose single block is large, has few runs at a time.
constexpr size_t kMemoryBudget = size_t{64} << 20;

// What the checks made at an item's turn (or when it started early) found.
enum class TTurnCheck { kPassed, kMissingSource, kOutputExists };

enum class TStep {
  kWaiting,    // not started
  kOpening,    // a thread checks the item and opens its conversion
  kRunning,    // its runs are being handed out
  kFinishing,  // a thread completes the output
  kDone,
};

std::string LowerBaseName(const std::string& name) {
  return LowerCaseAscii(name.substr(ExtractFilePath(name).size()));
}

// An item's names as far as they tell whether it may depend on earlier items: letter case is
// ignored, since some file systems ignore it too.
struct TItemNames {
  std::string source;           // the source's base name
  std::string output;           // the output's base name
  std::string outputNumbered;   // the output's base name without its extension, then "_"
  std::string outputExtension;  // the output's extension

  explicit TItemNames(const TWorkItem& item = {})
      : source(LowerBaseName(item.source)),
        output(LowerBaseName(item.output)),
        outputExtension(ExtractFileExt(output)) {
    outputNumbered = output.substr(0, output.size() - outputExtension.size()) + "_";
  }

  // True when placing this output could create or replace a file of base name `name`: the
  // output's name itself or one of its numbered forms.
  bool OutputMayBecome(const std::string& name) const {
    if (name == output) return true;
    const size_t numberStart = outputNumbered.size();
    if (name.size() <= numberStart + outputExtension.size()) return false;
    const size_t numberEnd = name.size() - outputExtension.size();
    if (name.compare(0, numberStart, outputNumbered) != 0 ||
        name.compare(numberEnd, std::string::npos, outputExtension) != 0) {
      return false;
    }
    return std::all_of(name.begin() + static_cast<ptrdiff_t>(numberStart),
                       name.begin() + static_cast<ptrdiff_t>(numberEnd),
                       [](char c) { return c >= '0' && c <= '9'; });
  }
};

// One item of the window. `index`, `item` and `names` are set before the job enters the window
// and only read afterwards; every other field is shared by the calling thread and the workers
// and guarded by the engine's fMutex. `conversion` is set under that lock by the thread that
// opened it; its runs are then called without the lock, each by the thread that claimed it.
struct TJob {
  size_t index = 0;
  TWorkItem item;
  TItemNames names;       // what decides whether it may depend on earlier items
  bool mayStart = false;  // may start now: it is its turn, or it cannot depend on earlier items
  bool checkedAtTurn =
      false;  // the checks were made at its turn; the thread that opens it skips them
  TStep step = TStep::kWaiting;
  TTurnCheck check = TTurnCheck::kPassed;  // what the thread that took it up found
  std::unique_ptr<TConversion> conversion;
  bool verifying = false;      // the runs are those of reading the output back (-verify)
  size_t runs = 0;             // known once opened, and again when verification begins
  size_t nextRun = 0;          // the next run to hand out
  size_t runsOut = 0;          // runs handed out and not yet back
  bool abandoned = false;      // a run gave up: the output is incomplete
  size_t failedRun = kNone;    // the first run that failed (kNone: none); the open counts as 0
  std::exception_ptr failure;  // its error
};

// A piece of work a thread took: a job's opening, or one of its runs.
struct TClaim {
  TJob* job;
  size_t run;  // kNone: the opening
};

TError NamedForUser(const TError& error, const std::string& sourceName) {
  if (!error.FileName().empty()) return error;
  return TError(error.Message(), sourceName, error.Reason());
}

// The calling thread is the order keeper: it takes the items in list order, lets those start
// early that cannot depend on earlier ones, and at each item's turn shows its progress text,
// waits for it, and places, numbers and reports its output. The workers claim pieces of work
// (an item's opening, one of its runs) from the window and report back under the lock.
class TConversionEngine {
 public:
  TConversionEngine(TWorkSource& work, TRunContext& context)
      : fWork(work), fOptions(context.options), fStatus(context.status), fCounts(context.counts) {
    const int threads = fOptions.threads > 0 ? fOptions.threads : AvailableCores();
    if (threads > 1) {
      try {
        for (int i = 0; i < threads; ++i) fWorkers.emplace_back([this] { WorkerLoop(); });
      } catch (const std::system_error&) {
        // The system grants fewer threads (a process limit): the run goes on with those, or
        // on this thread alone.
      }
    }
    fCapacity = fWorkers.empty() ? 1 : std::min(kAheadPerThread * fWorkers.size(), kMaxAhead);
    const size_t descriptors = DescriptorLimit();
    if (descriptors != SIZE_MAX) {
      const size_t items =
          descriptors > kDescriptorsOfTheRest
              ? (descriptors - kDescriptorsOfTheRest) / kDescriptorsPerItem
              : 1;
      fCapacity = std::clamp<size_t>(items, 1, fCapacity);
    }
  }

  ~TConversionEngine() {
    {
      std::lock_guard lock(fMutex);
      fStopping = true;
      for (const std::unique_ptr<TJob>& job : fWindow) {
        if (job->conversion) job->conversion->Abandon();
      }
    }
    fWorkReady.notify_all();
    for (std::thread& worker : fWorkers) worker.join();
    // The jobs go with the window: their temporary files are removed.
  }

  TRunOutcome Run() {
    bool allConverted = true;
    fStatus.SaveStatusPosition();
    Refill();
    while (!fWindow.empty()) {
      const TItemOutcome outcome = TakeTurn(*fWindow.front());
      fCounts.Add(outcome);
      if (outcome == TItemOutcome::kSkippedMissing || outcome == TItemOutcome::kRefused) {
        allConverted = false;
      }
      std::unique_ptr<TJob> done;
      {
        std::lock_guard lock(fMutex);
        done = std::move(fWindow.front());
        fWindow.pop_front();
      }
      done.reset();
      Refill();
    }
    fStatus.CloseStatusLine();
    return allConverted ? TRunOutcome::kAllConverted : TRunOutcome::kSomeFailed;
  }

 private:
  // ---- The calling thread: the items' turns, in order ----

  // Shows the item's progress text, makes the checks a run of one file after another makes at
  // this point, has the item converted (if it was not already), and reports and places it.
  // The steps from "finished" to "placed": a check found failing by the thread that opened it
  // is reported as such; a failure is reported, retried alone, or ends the run (ActionOn);
  // a finished output is placed (Commit).
  TItemOutcome TakeTurn(TJob& job) {
    fStatus.RestoreStatusPosition();
    fStatus.ClearStatusLine(true);
    fStatus.WriteProgressText(fWork.ProgressText(job.index, job.item));
    const TTurnCheck check = CheckAtTurn(job.item);
    if (check != TTurnCheck::kPassed) {
      Discard(job);
      return ReportCheck(check, job.item);
    }
    {
      std::lock_guard lock(fMutex);
      // Taken up early, it found what is no longer so: it is converted now after all.
      if (job.step == TStep::kDone && job.check != TTurnCheck::kPassed) job = Reset(job);
      if (job.step == TStep::kWaiting) job.checkedAtTurn = true;
      job.mayStart = true;
    }
    fWorkReady.notify_all();
    Complete(job);
    if (job.failure && ActionOn(job.failure, !fWorkers.empty()) == TFailureAction::kRetryAlone) {
      ConvertAgainAlone(job);
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
    std::lock_guard lock(fMutex);
    fAlone = false;
    return outcome;
  }

  // Other items converted at the same time may have caused the failure (a disk they filled,
  // the descriptors or memory they held): converted again alone, it fails only where it would
  // alone.
  void ConvertAgainAlone(TJob& job) {
    SetAsideLaterWork();
    {
      std::lock_guard lock(fMutex);
      job = Reset(job);
      job.checkedAtTurn = true;
      job.mayStart = true;
    }
    fWorkReady.notify_all();
    Complete(job);
  }

  TItemOutcome ReportFailure(const TJob& job) {
    switch (ActionOn(job.failure, false)) {
      case TFailureAction::kReport:
        WriteItemLines(ReportedLines(job.failure, job.item.output));
        return TItemOutcome::kRefused;
      case TFailureAction::kReportShort:
        WriteItemLines({ShortOfResourceLine(job.failure, job.item.source)});
        return TItemOutcome::kRefused;
      case TFailureAction::kRetryAlone:
      case TFailureAction::kEndRun:
        break;
    }
    try {
      std::rethrow_exception(job.failure);
    } catch (const TError& error) {
      throw NamedForUser(error, job.item.source);
    }
  }

  // Lines that stay below the item's progress text.
  void WriteItemLines(const std::vector<std::string>& lines) {
    fStatus.EndProgressLine();
    for (const std::string& line : lines) fStatus.WriteLine(line);
    fStatus.SaveStatusPosition();
  }

  // Drops what the items after the one whose turn it is have done so far, freeing whatever they
  // hold, and keeps them from starting until that turn is over.
  void SetAsideLaterWork() {
    std::unique_lock lock(fMutex);
    fAlone = true;
    for (size_t i = 1; i < fWindow.size(); ++i) {
      TJob& later = *fWindow[i];
      later.mayStart = false;
      later.abandoned = true;  // none of its runs is handed out any more
      if (later.conversion) later.conversion->Abandon();
    }
    // No thread works on a later item: it has not started, is done, or has no run out.
    auto idle = [&] {
      for (size_t i = 1; i < fWindow.size(); ++i) {
        const TJob& later = *fWindow[i];
        const bool untouched = later.step == TStep::kWaiting || later.step == TStep::kDone ||
                               (later.step == TStep::kRunning && later.runsOut == 0);
        if (!untouched) return false;
      }
      return true;
    };
    fDone.wait(lock, idle);
    for (size_t i = 1; i < fWindow.size(); ++i) {
      if (fWindow[i]->step != TStep::kWaiting) *fWindow[i] = Reset(*fWindow[i]);
    }
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
      WriteItemLines({"  ERROR: '" + item.source + "' doesn't exist.  skipped"});
      return TItemOutcome::kSkippedMissing;
    }
    WriteItemLines({"  '" + item.output + "' exists already.  skipped"});
    return TItemOutcome::kSkippedExisting;
  }

  static TJob Reset(const TJob& job) {
    TJob fresh;
    fresh.index = job.index;
    fresh.item = job.item;
    fresh.names = job.names;
    return fresh;
  }

  // An item that is not converted after all: what a thread made of it early is dropped.
  void Discard(TJob& job) {
    std::unique_lock lock(fMutex);
    job.mayStart = false;
    if (job.step == TStep::kWaiting) {
      job.step = TStep::kDone;
      return;
    }
    if (job.conversion) job.conversion->Abandon();
    fDone.wait(lock, [&] { return job.step == TStep::kDone; });
  }

  // Waits until the job is converted; without worker threads, converts it here.
  void Complete(TJob& job) {
    if (fWorkers.empty()) {
      std::unique_lock lock(fMutex);
      while (job.step != TStep::kDone) {
        std::optional<TClaim> claim = ClaimFrom(job);
        if (!claim) break;  // one thread hands out one run after another: cannot happen
        lock.unlock();
        Perform(*claim, fMemory);
        lock.lock();
      }
      return;
    }
    std::unique_lock lock(fMutex);
    fDone.wait(lock, [&] { return job.step == TStep::kDone; });
  }

  TItemOutcome Commit(TJob& job) {
    TPlacement placement = job.conversion->Place();
    if (!placement.placed && !placement.nameTaken && !fWorkers.empty()) {
      SetAsideLaterWork();  // their temporary files may have taken the room it needs
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
    while (fWindow.size() + added.size() < fCapacity && !fWorkEnded) {
      auto job = std::make_unique<TJob>();
      if (!fWork.Next(job->item)) {
        fWorkEnded = true;
        break;
      }
      job->index = fNextIndex++;
      job->names = TItemNames(job->item);
      added.push_back(std::move(job));
    }
    bool any = false;
    {
      std::lock_guard lock(fMutex);
      for (std::unique_ptr<TJob>& job : added) fWindow.push_back(std::move(job));
      for (size_t i = 1; i < fWindow.size(); ++i) {
        TJob& job = *fWindow[i];
        if (job.step == TStep::kWaiting && !job.mayStart && MayStartEarly(i)) {
          job.mayStart = true;
          any = true;
        }
      }
    }
    if (any) fWorkReady.notify_all();
  }

  // An item may be converted before its turn when nothing an earlier item does can change its
  // source, and its output folder exists already (folders are made only at an item's turn, so
  // an item discarded later leaves none behind).
  bool MayStartEarly(size_t position) const {
    if (fWorkers.empty()) return false;
    const TWorkItem& item = fWindow[position]->item;
    const std::string folder = OutputFolder(item.output);
    if (!folder.empty() && !DirectoryExists(folder)) return false;
    if (IsSymbolicLink(item.source)) return false;  // it may lead to any name
    const std::string& sourceName = fWindow[position]->names.source;
    for (size_t i = 0; i < position; ++i) {
      if (fWindow[i]->names.OutputMayBecome(sourceName)) return false;
    }
    return true;
  }

  // ---- The worker threads ----

  void WorkerLoop() {
    BlockCleanupSignalsInThisThread();
    TWorkerMemory memory;
    std::unique_lock lock(fMutex);
    while (true) {
      std::optional<TClaim> claim;
      fWorkReady.wait(lock, [&] { return fStopping || (claim = Claim()).has_value(); });
      if (fStopping) return;
      lock.unlock();
      Perform(*claim, memory);
      lock.lock();
    }
  }

  // The earliest work there is: items in order, so that the one whose turn it is goes first.
  std::optional<TClaim> Claim() {
    for (const std::unique_ptr<TJob>& job : fWindow) {
      if (std::optional<TClaim> claim = ClaimFrom(*job)) return claim;
      if (fAlone) break;  // only the item whose turn it is
    }
    return std::nullopt;
  }

  size_t RunsAhead() const { return std::max<size_t>(2, fWorkers.size()); }

  // True when a run of `bytes` may start now: the runs in flight leave room for it in the
  // budget, or there are none (a run larger than the budget then goes alone).
  bool MemoryAllows(size_t bytes) const {
    return fMemoryInFlight == 0 || fMemoryInFlight + bytes <= kMemoryBudget;
  }

  std::optional<TClaim> ClaimFrom(TJob& job) {
    if (job.step == TStep::kWaiting && job.mayStart) {
      job.step = TStep::kOpening;
      return TClaim{&job, kNone};
    }
    if (job.step == TStep::kRunning && job.failedRun == kNone && !job.abandoned &&
        job.nextRun < job.runs) {
      // Runs done before the ones ahead of them are placed keep their buffers until then:
      // only so many are handed out ahead of the first run not yet placed.
      if (job.nextRun >= job.conversion->RunsPlaced() + RunsAhead()) return std::nullopt;
      if (!MemoryAllows(job.conversion->RunMemoryBytes())) {
        fWaitingForMemory = true;
        return std::nullopt;
      }
      ++job.runsOut;
      fMemoryInFlight += job.conversion->RunMemoryBytes();
      return TClaim{&job, job.nextRun++};
    }
    return std::nullopt;
  }

  void Perform(TClaim claim, TWorkerMemory& memory) {
    if (claim.run == kNone) {
      std::optional<TClaim> first = Open(*claim.job, memory);
      if (!first) return;
      claim = *first;
    }
    ConvertRun(*claim.job, claim.run, memory);
  }

  // Checks and opens the item. Returns its run 0 for this thread to convert at once, with the
  // source's first bytes this thread read, when the memory budget has room for it; else run 0
  // waits for a thread like any other run.
  std::optional<TClaim> Open(TJob& job, TWorkerMemory& memory) {
    TTurnCheck check = job.checkedAtTurn ? TTurnCheck::kPassed : CheckAtTurn(job.item);
    std::unique_ptr<TConversion> conversion;
    std::exception_ptr failure;
    if (check == TTurnCheck::kPassed) {
      try {
        conversion = MakeConversion(job.item, fOptions);
        conversion->Open(memory);
      } catch (...) {
        failure = std::current_exception();
      }
    }
    std::optional<TClaim> first;
    TStep next = TStep::kRunning;
    {
      std::lock_guard lock(fMutex);
      job.check = check;
      job.conversion = std::move(conversion);
      if (check != TTurnCheck::kPassed || failure || fStopping) {
        job.failedRun = failure ? 0 : kNone;
        // Moved, not copied: once the lock is released only the job may hold the error, which
        // the calling thread reads.
        job.failure = std::move(failure);
        job.abandoned = fStopping;
        next = TStep::kDone;
      } else {
        job.runs = job.conversion->RunCount();
        if (job.runs == 0) {
          next = TStep::kFinishing;
        } else if (MemoryAllows(job.conversion->RunMemoryBytes())) {
          job.nextRun = 1;
          job.runsOut = 1;
          fMemoryInFlight += job.conversion->RunMemoryBytes();
          first = TClaim{&job, 0};
        } else {
          job.conversion->ForgetHead();
        }
      }
      job.step = next;
    }
    if (next == TStep::kDone) {
      fDone.notify_all();
    } else if (next == TStep::kFinishing) {
      FinishOutput(job, memory);
    } else if (job.runs > (first ? 1u : 0u)) {
      fWorkReady.notify_all();  // the other runs are there for the taking
    }
    return first;
  }

  void ConvertRun(TJob& job, size_t run, TWorkerMemory& memory) {
    std::exception_ptr failure;
    bool abandoned = false;
    try {
      if (job.verifying) {
        job.conversion->VerifyRun(run, memory);
      } else {
        job.conversion->ConvertRun(run, memory);
      }
    } catch (const TRunAbandoned&) {
      abandoned = true;
    } catch (...) {
      failure = std::current_exception();
    }
    memory.ReleaseIfLarge();
    TStep next = TStep::kRunning;
    bool memoryAwaited = false;
    {
      std::lock_guard lock(fMutex);
      fMemoryInFlight -= job.conversion->RunMemoryBytes();
      memoryAwaited = std::exchange(fWaitingForMemory, false);
      --job.runsOut;
      job.abandoned = job.abandoned || abandoned || fStopping;
      if (failure && run < job.failedRun) {
        job.failedRun = run;
        job.failure = std::move(failure);
        job.conversion->Abandon();  // runs done or parked after this one are not written
      }
      if (job.runsOut == 0) {
        if (job.failedRun != kNone || job.abandoned) {
          next = TStep::kDone;
        } else if (job.nextRun == job.runs) {
          next = job.verifying ? TStep::kDone : TStep::kFinishing;
        }
      }
      job.step = next;
    }
    // Memory went back to the budget, or the run placed runs that others were held back
    // behind: those may start now.
    if (memoryAwaited || (next == TStep::kRunning && job.runs > RunsAhead())) {
      fWorkReady.notify_all();
    }
    if (next == TStep::kDone) fDone.notify_all();
    if (next == TStep::kFinishing) FinishOutput(job, memory);
  }

  // After the last run, by the thread that completed it: the output is completed and closed.
  // Under -verify its verification runs follow, for any thread to take; else it is done.
  void FinishOutput(TJob& job, TWorkerMemory& memory) {
    std::exception_ptr failure;
    size_t verifyRuns = 0;
    try {
      job.conversion->Finish();
      if (fOptions.verify) verifyRuns = job.conversion->BeginVerify();
    } catch (...) {
      failure = std::current_exception();
    }
    memory.ReleaseIfLarge();
    TStep next = TStep::kDone;
    {
      std::lock_guard lock(fMutex);
      if (failure) {
        job.failure = std::move(failure);
        job.failedRun = job.runs;
      } else if (verifyRuns != 0 && !job.abandoned && !fStopping) {
        job.verifying = true;
        job.runs = verifyRuns;
        job.nextRun = 0;
        next = TStep::kRunning;
      }
      job.step = next;
    }
    if (next == TStep::kDone) {
      fDone.notify_all();
    } else {
      fWorkReady.notify_all();
    }
  }

  TWorkSource& fWork;
  const TRunOptions& fOptions;
  TRunStatus& fStatus;
  TOutcomeCounts& fCounts;  // the calling thread's only
  size_t fCapacity = 1;     // items in the window at most
  size_t fNextIndex = 0;    // the calling thread's only
  bool fWorkEnded = false;  // the calling thread's only
  TWorkerMemory fMemory;    // the calling thread's, when there are no workers

  std::mutex fMutex;  // guards the window, every job's shared fields and the four below
  std::condition_variable fWorkReady;  // work to claim, memory returned, or stopping
  std::condition_variable fDone;       // a job reached kDone, or a run came back
  std::deque<std::unique_ptr<TJob>> fWindow;  // the items from the one whose turn it is on
  bool fStopping = false;
  bool fAlone = false;  // the item whose turn it is runs alone (converted again after a failure)
  size_t fMemoryInFlight = 0;  // RunMemoryBytes of the runs claimed and not yet back
  bool fWaitingForMemory = false;  // a run was not handed out for want of memory
  std::vector<std::thread> fWorkers;  // last: they start once everything above exists
};

}  // namespace

TRunOutcome RunConversions(TWorkSource& work, TRunContext& context) {
  TConversionEngine engine(work, context);
  return engine.Run();
}

}  // namespace tarvix
