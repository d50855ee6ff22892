#include "jobs/JobTable.h"

#include <algorithm>
#include <system_error>
#include <utility>

#include "platform/FileNames.h"
#include "platform/TempFileCleanup.h"

namespace tarvix {

namespace {

// The buffers of the runs in flight together: each thread may hold a run of an ordinary file,
// and a file of very many channels, whose single block is large, has few runs at a time.
constexpr size_t kMemoryBudget = size_t{64} << 20;

std::string LowerBaseName(const std::string& name) {
  return LowerCaseAscii(name.substr(ExtractFilePath(name).size()));
}

}  // namespace

TItemNames::TItemNames(const TWorkItem& item)
    : source(LowerBaseName(item.source)),
      output(LowerBaseName(item.output)),
      outputExtension(ExtractFileExt(output)) {
  outputNumbered = output.substr(0, output.size() - outputExtension.size()) + "_";
}

bool TItemNames::OutputMayBecome(const std::string& name) const {
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

TJobTable::TJobTable(const TRunOptions& options, int threads, TCheck check)
    : fOptions(options), fCheck(std::move(check)) {
  if (threads > 1) {
    try {
      for (int i = 0; i < threads; ++i) fWorkers.emplace_back([this] { WorkerLoop(); });
    } catch (const std::system_error&) {
      // The system grants fewer threads (a process limit): the run goes on with those, or on
      // the calling thread alone.
    }
  }
}

TJobTable::~TJobTable() {
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

// ---- The order keeper's side ----

size_t TJobTable::Size() {
  std::lock_guard lock(fMutex);
  return fWindow.size();
}

TJob& TJobTable::Front() {
  std::lock_guard lock(fMutex);
  return *fWindow.front();
}

void TJobTable::DropFront() {
  std::unique_ptr<TJob> done;
  {
    std::lock_guard lock(fMutex);
    done = std::move(fWindow.front());
    fWindow.pop_front();
  }
  done.reset();  // its temporary file, if it was not placed, goes outside the lock
}

void TJobTable::Admit(std::vector<std::unique_ptr<TJob>> jobs,
                      const TMayStartEarly& mayStartEarly) {
  bool any = false;
  {
    std::lock_guard lock(fMutex);
    for (std::unique_ptr<TJob>& job : jobs) fWindow.push_back(std::move(job));
    if (!fWorkers.empty()) {
      for (size_t i = 1; i < fWindow.size(); ++i) {
        TJob& job = *fWindow[i];
        if (job.step == TStep::kWaiting && !job.mayStart && mayStartEarly(fWindow, i)) {
          job.mayStart = true;
          any = true;
        }
      }
    }
  }
  if (any) fWorkReady.notify_all();
}

void TJobTable::ConvertAtTurn(TJob& job, const std::function<void()>& tick) {
  {
    std::lock_guard lock(fMutex);
    // Taken up early, it found what is no longer so: it is converted now after all.
    if (job.step == TStep::kDone && job.check != TTurnCheck::kPassed) Reset(job);
    if (job.step == TStep::kWaiting) job.checkedAtTurn = true;
    job.mayStart = true;
  }
  fWorkReady.notify_all();
  WaitUntilDone(job, tick);
}

int TJobTable::Percent(const TJob& job) {
  std::lock_guard lock(fMutex);
  if (job.progressRuns == 0) return job.step == TStep::kDone ? 100 : 0;
  return static_cast<int>(std::min<size_t>(100, job.runsDone * 100 / job.progressRuns));
}

void TJobTable::ConvertAgainAlone(TJob& job) {
  SetAsideLaterWork();
  {
    std::lock_guard lock(fMutex);
    Reset(job);
    job.checkedAtTurn = true;
    job.mayStart = true;
  }
  fWorkReady.notify_all();
  WaitUntilDone(job);
}

void TJobTable::SetAsideLaterWork() {
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
    if (fWindow[i]->step != TStep::kWaiting) Reset(*fWindow[i]);
  }
}

void TJobTable::Discard(TJob& job) {
  std::unique_lock lock(fMutex);
  job.mayStart = false;
  if (job.step == TStep::kWaiting) {
    job.step = TStep::kDone;
    return;
  }
  if (job.conversion) job.conversion->Abandon();
  fDone.wait(lock, [&] { return job.step == TStep::kDone; });
}

void TJobTable::EndTurn() {
  std::lock_guard lock(fMutex);
  fAlone = false;
}

// Without worker threads, the calling thread converts the job itself, ticking between runs.
void TJobTable::WaitUntilDone(TJob& job, const std::function<void()>& tick) {
  std::unique_lock lock(fMutex);
  if (fWorkers.empty()) {
    auto nextTick = std::chrono::steady_clock::now() + kTick;
    while (job.step != TStep::kDone) {
      std::optional<TClaim> claim = ClaimFrom(job);
      if (!claim) break;  // one thread hands out one run after another: cannot happen
      lock.unlock();
      Perform(*claim, fMemory);
      if (tick && std::chrono::steady_clock::now() >= nextTick) {
        tick();
        nextTick = std::chrono::steady_clock::now() + kTick;
      }
      lock.lock();
    }
    return;
  }
  const auto done = [&] { return job.step == TStep::kDone; };
  if (!tick) return fDone.wait(lock, done);
  while (!fDone.wait_for(lock, kTick, done)) {
    lock.unlock();
    tick();
    lock.lock();
  }
}

// Back to waiting, as if never taken up. Called with the lock held, on a job no thread works on.
void TJobTable::Reset(TJob& job) {
  TJob fresh;
  fresh.index = job.index;
  fresh.item = std::move(job.item);
  fresh.names = std::move(job.names);
  job = std::move(fresh);
}

// ---- The workers' side ----

void TJobTable::WorkerLoop() {
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
std::optional<TJobTable::TClaim> TJobTable::Claim() {
  for (const std::unique_ptr<TJob>& job : fWindow) {
    if (std::optional<TClaim> claim = ClaimFrom(*job)) return claim;
    if (fAlone) break;  // only the item whose turn it is
  }
  return std::nullopt;
}

size_t TJobTable::RunsAhead() const {
  return std::max<size_t>(2, fWorkers.size());
}

// True when a run of `bytes` may start now: the runs in flight leave room for it in the
// budget, or there are none (a run larger than the budget then goes alone).
bool TJobTable::MemoryAllows(size_t bytes) const {
  return fMemoryInFlight == 0 || fMemoryInFlight + bytes <= kMemoryBudget;
}

std::optional<TJobTable::TClaim> TJobTable::ClaimFrom(TJob& job) {
  if (job.step == TStep::kWaiting && job.mayStart) {
    job.step = TStep::kOpening;
    return TClaim{&job, kNoRun};
  }
  if (job.step == TStep::kRunning && job.failedRun == kNoRun && !job.abandoned &&
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

void TJobTable::Perform(TClaim claim, TWorkerMemory& memory) {
  if (claim.run == kNoRun) {
    std::optional<TClaim> first = Open(*claim.job, memory);
    if (!first) return;
    claim = *first;
  }
  ConvertRun(*claim.job, claim.run, memory);
}

// Checks and opens the item. Returns its run 0 for this thread to convert at once, with the
// source's first bytes this thread read, when the memory budget has room for it; else run 0
// waits for a thread like any other run.
std::optional<TJobTable::TClaim> TJobTable::Open(TJob& job, TWorkerMemory& memory) {
  TTurnCheck check = job.checkedAtTurn ? TTurnCheck::kPassed : fCheck(job.item);
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
      job.failedRun = failure ? 0 : kNoRun;
      // Moved, not copied: once the lock is released only the job may hold the error, which
      // the calling thread reads.
      job.failure = std::move(failure);
      job.abandoned = fStopping;
      next = TStep::kDone;
    } else {
      job.runs = job.conversion->RunCount();
      job.progressRuns = job.runs * (fOptions.verify ? 2 : 1);
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

void TJobTable::ConvertRun(TJob& job, size_t run, TWorkerMemory& memory) {
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
    if (!failure && !abandoned) ++job.runsDone;
    job.abandoned = job.abandoned || abandoned || fStopping;
    if (failure && run < job.failedRun) {
      job.failedRun = run;
      job.failure = std::move(failure);
      job.conversion->Abandon();  // runs done or parked after this one are not written
    }
    if (job.runsOut == 0) {
      if (job.failedRun != kNoRun || job.abandoned) {
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
void TJobTable::FinishOutput(TJob& job, TWorkerMemory& memory) {
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

}  // namespace tarvix
