#include "jobs/JobTable.h"

#include <algorithm>
#include <system_error>
#include <utility>

#include "platform/FileNames.h"
#include "platform/FileSystem.h"
#include "platform/TempFileCleanup.h"

namespace tarvix {

namespace {

// Every buffer of a run together: what the workers hold and the runs parked in NCW writers.
// Threads beyond the cores add no speed, only memory, so the budget follows the cores: about
// two threads' buffers each, so that -jN takes no more memory than the cores use. A piece
// larger than the budget goes alone.
constexpr size_t kMemoryPerCore = size_t{5} << 20;
constexpr size_t kMaxMemoryBudget = size_t{64} << 20;

size_t MemoryBudget() {
  const auto cores = static_cast<size_t>(std::max(2, AvailableCores()));
  return std::min(kMaxMemoryBudget, kMemoryPerCore * cores);
}

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
    : fOptions(options), fCheck(std::move(check)), fMemoryBudget(MemoryBudget()) {
  fWorkerBytes.assign(static_cast<size_t>(std::max(1, threads)), 0);
  if (threads > 1) {
    try {
      for (int i = 0; i < threads; ++i) {
        fWorkers.emplace_back([this, i] { WorkerLoop(static_cast<size_t>(i)); });
      }
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
    fParkedBytesTotal -= done->parkedBytes;
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

void TJobTable::ForEachHeldBack(const std::function<void(TJob&)>& lookAt) {
  std::vector<TJob*> heldBack;
  {
    std::lock_guard lock(fMutex);
    for (size_t i = 1; i < fWindow.size(); ++i) {
      if (fWindow[i]->step == TStep::kWaiting && !fWindow[i]->mayStart) {
        heldBack.push_back(fWindow[i].get());
      }
    }
  }
  // Only the keeper, who calls this, drops jobs from the window.
  for (TJob* job : heldBack) lookAt(*job);
}

void TJobTable::ConvertAtTurn(TJob& job, const std::function<void()>& tick) {
  std::unique_ptr<TConversion> dropped;  // goes outside the lock, with its temporary file
  {
    std::lock_guard lock(fMutex);
    // Taken up early, it found what is no longer so: it is converted now after all.
    if (job.step == TStep::kDone && job.check != TTurnCheck::kPassed) dropped = Reset(job);
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
  std::unique_ptr<TConversion> dropped;
  {
    std::lock_guard lock(fMutex);
    dropped = Reset(job);
    job.checkedAtTurn = true;
    job.mayStart = true;
  }
  fWorkReady.notify_all();
  dropped.reset();
  WaitUntilDone(job);
}

void TJobTable::SetAsideLaterWork() {
  std::vector<std::unique_ptr<TConversion>> dropped;  // destroyed after the lock is released
  std::unique_lock lock(fMutex);
  fAlone = true;
  for (size_t i = 1; i < fWindow.size(); ++i) {
    TJob& later = *fWindow[i];
    later.mayStart = false;
    // None of its runs is handed out any more; it is reset below. One not yet taken up stays
    // as it is: marked, it would end without its output finished once it is converted.
    if (later.step == TStep::kWaiting) continue;
    later.abandoned = true;
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
    if (fWindow[i]->step != TStep::kWaiting) dropped.push_back(Reset(*fWindow[i]));
  }
  lock.unlock();
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
      std::optional<TClaim> claim = ClaimFrom(job, 0);
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

// Back to waiting, as if never taken up. Called with the lock held, on a job no thread works
// on; the old conversion is handed back, to be destroyed once the lock is released.
std::unique_ptr<TConversion> TJobTable::Reset(TJob& job) {
  TJob fresh;
  fresh.index = job.index;
  fresh.item = std::move(job.item);
  fresh.names = std::move(job.names);
  fresh.outputFolderExists = job.outputFolderExists;
  fresh.sourceIsLink = job.sourceIsLink;
  fresh.sourceTimes = job.sourceTimes;
  std::unique_ptr<TConversion> old = std::move(job.conversion);
  fParkedBytesTotal -= job.parkedBytes;
  job = std::move(fresh);
  return old;
}

// ---- The workers' side ----

void TJobTable::WorkerLoop(size_t worker) {
  BlockCleanupSignalsInThisThread();
  TWorkerMemory memory;
  std::unique_lock lock(fMutex);
  while (true) {
    std::optional<TClaim> claim;
    // A worker with nothing to do while others wait for memory gives its buffers back.
    auto givesBack = [&] { return fWaitingForMemory && fWorkerBytes[worker] != 0; };
    fWorkReady.wait(
        lock, [&] { return fStopping || (claim = Claim(worker)).has_value() || givesBack(); });
    if (fStopping) return;
    if (!claim) {
      fWorkerBytesTotal -= std::exchange(fWorkerBytes[worker], 0);
      fWaitingForMemory = false;
      lock.unlock();
      memory.ReleaseAll();
      fWorkReady.notify_all();
      lock.lock();
      continue;
    }
    lock.unlock();
    Perform(*claim, memory);
    lock.lock();
  }
}

// The earliest work there is: items in order, so that the one whose turn it is goes first.
std::optional<TJobTable::TClaim> TJobTable::Claim(size_t worker) {
  for (const std::unique_ptr<TJob>& job : fWindow) {
    if (std::optional<TClaim> claim = ClaimFrom(*job, worker)) return claim;
    if (fAlone) break;  // only the item whose turn it is
  }
  return std::nullopt;
}

// An item converted again alone, after a failure that others may have caused, goes one run at
// a time: as on one thread.
size_t TJobTable::RunsAhead() const {
  return fAlone ? 1 : std::max<size_t>(2, fWorkers.size());
}

// True when `worker` may hold `bytes` for a piece of work now: what all the others hold, the
// parked runs and its own share leave room in the budget, or no other piece is out (one larger
// than the budget then goes alone).
bool TJobTable::MemoryAllows(size_t worker, size_t bytes) const {
  const size_t mine = fWorkerBytes[worker];
  const size_t others = fWorkerBytesTotal - mine + fParkedBytesTotal;
  return fPiecesOut == 0 || others + std::max(mine, bytes) <= fMemoryBudget;
}

// Books a piece of work that needs `bytes` of `worker`'s buffers.
void TJobTable::TakeMemory(size_t worker, size_t bytes) {
  ++fPiecesOut;
  const size_t mine = fWorkerBytes[worker];
  if (bytes > mine) {
    fWorkerBytesTotal += bytes - mine;
    fWorkerBytes[worker] = bytes;
  }
}

// A piece of work is back: the worker's share becomes what its buffers hold now, and the job's
// parked runs are counted as they are now. Called with the lock held. True when the budget is
// over: the worker is then to hand its buffers back once the lock is released (its share is 0
// already), so that what workers keep between pieces stays within the budget.
bool TJobTable::ReturnMemory(const TClaim& claim, const TWorkerMemory& memory) {
  --fPiecesOut;
  TJob& job = *claim.job;
  if (job.conversion) {
    const size_t parked = job.conversion->ParkedBytes();
    fParkedBytesTotal += parked - job.parkedBytes;
    job.parkedBytes = parked;
  }
  const size_t held = memory.HeldBytes();
  fWorkerBytesTotal -= fWorkerBytes[claim.worker];
  const bool overBudget = fWorkerBytesTotal + held + fParkedBytesTotal > fMemoryBudget;
  fWorkerBytes[claim.worker] = overBudget ? 0 : held;
  fWorkerBytesTotal += fWorkerBytes[claim.worker];
  if (std::exchange(fWaitingForMemory, false)) fMemoryReturned = true;
  return overBudget;
}

// Work that waits for memory: the workers that keep buffers are woken, to take it up in the
// buffers they have or to hand them back. Called with the lock held.
void TJobTable::WaitForMemory() {
  if (std::exchange(fWaitingForMemory, true)) return;
  fWorkReady.notify_all();
}

std::optional<TJobTable::TClaim> TJobTable::ClaimFrom(TJob& job, size_t worker) {
  if (job.step == TStep::kWaiting && job.mayStart) {
    if (!MemoryAllows(worker, kOpeningMemoryBytes)) {
      WaitForMemory();
      return std::nullopt;
    }
    TakeMemory(worker, kOpeningMemoryBytes);
    job.step = TStep::kOpening;
    return TClaim{&job, kNoRun, worker, false, 0, job.checkedAtTurn};
  }
  if (job.step == TStep::kRunning && job.failedRun == kNoRun && !job.abandoned &&
      job.nextRun < job.runs) {
    // Runs done before the ones ahead of them are placed keep their buffers until then:
    // only so many are handed out ahead of the first run not yet placed.
    if (job.nextRun >= job.conversion->RunsPlaced() + RunsAhead()) return std::nullopt;
    if (!MemoryAllows(worker, job.conversion->RunMemoryBytes())) {
      WaitForMemory();
      return std::nullopt;
    }
    ++job.runsOut;
    TakeMemory(worker, job.conversion->RunMemoryBytes());
    return TClaim{&job, job.nextRun++, worker, job.verifying, job.runs};
  }
  return std::nullopt;
}

void TJobTable::Perform(TClaim claim, TWorkerMemory& memory) {
  if (claim.run == kNoRun) {
    std::optional<TClaim> first = Open(claim, memory);
    if (!first) return;
    claim = *first;
  }
  ConvertRun(claim, memory);
}

// Checks and opens the item. Returns its run 0 for this thread to convert at once, with the
// source's first bytes this thread read, when the memory budget has room for it; else run 0
// waits for a thread like any other run.
std::optional<TJobTable::TClaim> TJobTable::Open(const TClaim& opening, TWorkerMemory& memory) {
  TJob& job = *opening.job;
  TTurnCheck check = opening.checkedAtTurn ? TTurnCheck::kPassed : fCheck(job.item);
  std::unique_ptr<TConversion> conversion;
  std::optional<TItemFailure> failure;
  if (check == TTurnCheck::kPassed) {
    try {
      conversion = MakeConversion(job.item, fOptions);
      conversion->Open(memory);
    } catch (...) {
      failure = ClassifyCurrentException();
    }
  }
  memory.ReleaseIfLarge();
  std::optional<TClaim> first;
  TStep next = TStep::kRunning;
  bool othersMayTakeRuns = false;
  bool memoryReturned = false;
  bool handBack = false;
  {
    std::lock_guard lock(fMutex);
    handBack = ReturnMemory(opening, memory);
    memoryReturned = std::exchange(fMemoryReturned, false);
    job.check = check;
    job.conversion = std::move(conversion);
    if (check != TTurnCheck::kPassed || failure || fStopping) {
      job.failedRun = failure ? 0 : kNoRun;
      job.failure = std::move(failure);
      job.abandoned = fStopping;
      next = TStep::kDone;
    } else {
      job.runs = job.conversion->RunCount();
      job.progressRuns = job.runs * (fOptions.verify ? 2 : 1);
      if (job.runs == 0) {
        next = TStep::kFinishing;
      } else if (MemoryAllows(opening.worker, job.conversion->RunMemoryBytes())) {
        job.nextRun = 1;
        job.runsOut = 1;
        TakeMemory(opening.worker, job.conversion->RunMemoryBytes());
        first = TClaim{&job, 0, opening.worker, false, job.runs};
      } else {
        job.conversion->ForgetHead();
      }
      othersMayTakeRuns = job.runs > (first ? 1u : 0u);
    }
    job.step = next;
    if (first) handBack = false;  // run 0 goes on in these buffers, booked again
  }
  if (handBack) memory.ReleaseAll();
  // From here on the job may be done and dropped by others: only what the lock gave is used.
  if (othersMayTakeRuns || memoryReturned) fWorkReady.notify_all();
  if (next == TStep::kDone) {
    fDone.notify_all();
  } else if (next == TStep::kFinishing) {
    FinishOutput(opening, memory);
  }
  return first;
}

void TJobTable::ConvertRun(const TClaim& claim, TWorkerMemory& memory) {
  TJob& job = *claim.job;
  const size_t run = claim.run;
  std::optional<TItemFailure> failure;
  bool abandoned = false;
  try {
    if (claim.verifying) {
      job.conversion->VerifyRun(run, memory);
    } else {
      job.conversion->ConvertRun(run, memory);
    }
  } catch (const TRunAbandoned&) {
    abandoned = true;
  } catch (...) {
    failure = ClassifyCurrentException();
  }
  memory.ReleaseIfLarge();
  TStep next = TStep::kRunning;
  bool wakeOthers = false;
  bool handBack = false;
  {
    std::lock_guard lock(fMutex);
    handBack = ReturnMemory(claim, memory);
    const bool memoryAwaited = std::exchange(fMemoryReturned, false);
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
        next = claim.verifying ? TStep::kDone : TStep::kFinishing;
      }
    }
    job.step = next;
    // Memory went back to the budget, or the run placed runs that others were held back
    // behind: those may start now.
    wakeOthers = memoryAwaited || (next == TStep::kRunning && claim.runs > RunsAhead());
  }
  // Unless it is this thread's to finish, the job may be done and dropped by now.
  if (handBack) memory.ReleaseAll();
  if (wakeOthers) fWorkReady.notify_all();
  if (next == TStep::kDone) fDone.notify_all();
  if (next == TStep::kFinishing) FinishOutput(claim, memory);
}

// After the last run, by the thread that completed it: the output is completed and closed.
// Under -verify its verification runs follow, for any thread to take; else it is done.
void TJobTable::FinishOutput(const TClaim& claim, TWorkerMemory& memory) {
  TJob& job = *claim.job;
  std::optional<TItemFailure> failure;
  size_t verifyRuns = 0;
  try {
    job.conversion->Finish();
    if (fOptions.verify) verifyRuns = job.conversion->BeginVerify();
  } catch (...) {
    failure = ClassifyCurrentException();
  }
  memory.ReleaseIfLarge();
  TStep next = TStep::kDone;
  {
    std::lock_guard lock(fMutex);
    // What the writer's buffers held is gone with the finished file.
    fParkedBytesTotal -= std::exchange(job.parkedBytes, 0);
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
