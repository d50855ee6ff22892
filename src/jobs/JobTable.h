// The items a run converts at the same time and the worker threads that convert them: the
// window of jobs, each going from waiting through opening and its runs (and, under -verify,
// the runs that read its output back) to done, and the threads that claim those pieces of
// work. The order keeper (jobs/Engine.cpp) decides which items may start and acts on each one
// at its turn; it reaches the shared state only through this table's methods.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "jobs/Conversion.h"
#include "jobs/ItemFailure.h"
#include "jobs/RunContext.h"
#include "platform/FileSystem.h"

namespace tarvix {

// What the checks made at an item's turn (or when it started early) found.
enum class TTurnCheck { kPassed, kMissingSource, kOutputExists };

enum class TStep {
  kWaiting,    // not started
  kOpening,    // a thread checks the item and opens its conversion
  kRunning,    // its runs (under -verify, then its verification runs) are handed out
  kFinishing,  // a thread completes the output and begins its verification
  kDone,
};

// An item's names as far as they tell whether it may depend on earlier items: letter case is
// ignored, since some file systems ignore it too.
struct TItemNames {
  std::string source;           // the source's base name
  std::string output;           // the output's base name
  std::string outputNumbered;   // the output's base name without its extension, then "_"
  std::string outputExtension;  // the output's extension

  explicit TItemNames(const TWorkItem& item = {});
  // True when placing this output could create or replace a file of base name `name`: the
  // output's name itself or one of its numbered forms.
  bool OutputMayBecome(const std::string& name) const;
};

constexpr size_t kNoRun = static_cast<size_t>(-1);

// One item of the window. Each field says who writes it and who reads it. "Table lock" is
// TJobTable::fMutex; the keeper is the order keeper on the calling thread; the claimant is the
// worker that claimed a piece of the job's work (its opening, a run, or its finishing).
struct TJob {
  // Set by the keeper before the job enters the window; only read afterwards, by anyone.
  size_t index = 0;
  TWorkItem item;
  TItemNames names;  // what decides whether it may depend on earlier items
  // -keeptime: the source's times, read before any thread read the source (which may change
  // its access time); unset when the source did not exist yet then.
  std::optional<TFileTimes> sourceTimes;

  // The keeper's alone, written and read without the lock: what it found on the disk, outside
  // the table lock, that decides whether the job may start early.
  bool outputFolderExists = false;
  bool sourceIsLink = false;

  // Written and read under the table lock.
  bool mayStart = false;  // may start now: it is its turn, or it cannot depend on earlier items
  bool checkedAtTurn = false;  // the checks were made at its turn; the claimant skips them
  TStep step = TStep::kWaiting;
  TTurnCheck check = TTurnCheck::kPassed;  // what the thread that opened it found
  bool verifying = false;     // the runs are those of reading the output back (-verify)
  size_t runs = 0;            // known once opened, and again when verification begins
  size_t nextRun = 0;         // the next run to hand out
  size_t runsOut = 0;         // runs handed out and not yet back
  bool abandoned = false;     // a run gave up: the output is incomplete
  size_t failedRun = kNoRun;  // the first run that failed (kNoRun: none); the open counts as 0
  std::optional<TItemFailure> failure;  // its error, classified where it was caught
  size_t parkedBytes = 0;   // what its NCW writer holds parked, as last seen; in the budget
  size_t runsDone = 0;      // runs back without failing, verification runs included
  size_t progressRuns = 0;  // the runs that make 100%: known once opened

  // Set under the table lock by the thread that opened it. The object itself is used without
  // the lock: each run by the thread that claimed it, Finish and BeginVerify by the claimant of
  // the finishing; its own methods say what several threads may call at once. The keeper uses
  // it, and reads `check` and `failure` without the lock, once the job is kDone: no worker then
  // holds any of its work.
  std::unique_ptr<TConversion> conversion;
};

class TJobTable {
 public:
  using TCheck = std::function<TTurnCheck(const TWorkItem&)>;
  using TMayStartEarly = std::function<bool(const std::deque<std::unique_ptr<TJob>>&, size_t)>;

  // Starts `threads` workers (fewer when the system grants fewer; none for one thread).
  // `check` makes the checks of an item's turn for an item opened ahead of it.
  TJobTable(const TRunOptions& options, int threads, TCheck check);
  ~TJobTable();  // stops the workers; the jobs still in the window are dropped unplaced
  TJobTable(const TJobTable&) = delete;
  TJobTable& operator=(const TJobTable&) = delete;

  size_t Workers() const { return fWorkers.size(); }

  // ---- For the order keeper, on the calling thread ----

  size_t Size();
  TJob& Front();
  // Takes the first job out of the window once it is done with.
  void DropFront();
  // Adds jobs to the window's end, and lets every waiting one start that `mayStartEarly`
  // allows at its position.
  void Admit(std::vector<std::unique_ptr<TJob>> jobs, const TMayStartEarly& mayStartEarly);
  // The jobs that wait without leave to start early: `lookAt` is called for each outside the
  // lock, to look again at what the disk says of them before the next Admit.
  void ForEachHeldBack(const std::function<void(TJob&)>& lookAt);
  // The item's turn: it may start now, its checks made (what a thread found early that is no
  // longer so is converted again). Returns once it is done; till then calls `tick` (when
  // given) every kTick or so, on this thread and without the lock.
  void ConvertAtTurn(TJob& job, const std::function<void()>& tick = {});
  // How far the job is, in percent of its runs (0 to 100).
  int Percent(const TJob& job);
  static constexpr std::chrono::milliseconds kTick{200};
  // Drops what the items after the one whose turn it is have done, freeing what they hold, and
  // converts the job again while they wait. Returns once it is done.
  void ConvertAgainAlone(TJob& job);
  // Sets the later items aside as above, for the turn's item to be placed alone.
  void SetAsideLaterWork();
  // An item that is not converted after all: what a thread made of it early is dropped.
  void Discard(TJob& job);
  // The turn is over: later items may be worked on again.
  void EndTurn();

 private:
  void WaitUntilDone(TJob& job, const std::function<void()>& tick = {});

  // ---- The workers' side ----

  // A piece of work as the table handed it out: everything the claimant needs, copied under
  // the lock, so that it reads nothing of the job without the lock until it gives the piece
  // back. The job stays in the window at least until then (the keeper drops only done jobs).
  struct TClaim {
    TJob* job;
    size_t run;                  // kNoRun: the opening
    size_t worker = 0;           // whose memory it is done in
    bool verifying = false;      // a run of reading the output back
    size_t runs = 0;             // how many runs the job has (of this kind)
    bool checkedAtTurn = false;  // the opening: the checks were made at its turn
  };

  void WorkerLoop(size_t worker);
  std::optional<TClaim> Claim(size_t worker);
  std::optional<TClaim> ClaimFrom(TJob& job, size_t worker);
  size_t RunsAhead() const;
  bool MemoryAllows(size_t worker, size_t bytes) const;
  void TakeMemory(size_t worker, size_t bytes);
  bool ReturnMemory(const TClaim& claim, const TWorkerMemory& memory);
  void WaitForMemory();
  void Perform(TClaim claim, TWorkerMemory& memory);
  std::optional<TClaim> Open(const TClaim& opening, TWorkerMemory& memory);
  std::unique_ptr<TConversion> Reset(TJob& job);
  void ConvertRun(const TClaim& claim, TWorkerMemory& memory);
  void FinishOutput(const TClaim& claim, TWorkerMemory& memory);

  const TRunOptions& fOptions;
  const TCheck fCheck;
  const size_t fMemoryBudget;  // what every buffer of the run together may hold
  TWorkerMemory fMemory;       // the calling thread's, when there are no workers

  // Lock order: the table's lock, then a conversion's own (the NCW writer's, which places
  // runs in order). No lock is taken while the NCW writer's is held, and nothing that touches
  // the file system is done under the table's.
  std::mutex fMutex;                   // guards the window, every job's shared fields and the
                                       // fields below
  std::condition_variable fWorkReady;  // work to claim, memory returned, or stopping
  std::condition_variable fDone;       // a job reached kDone, or a run came back
  std::deque<std::unique_ptr<TJob>> fWindow;  // the items from the one whose turn it is on
  bool fStopping = false;
  bool fAlone = false;  // the item whose turn it is runs alone (converted again after a failure)
  // The memory budget's account. A worker's share is what its buffers hold, or are about to
  // hold for the piece it claimed; runs parked in NCW writers count apart, per job.
  std::vector<size_t> fWorkerBytes;  // per worker (one for the calling thread without workers)
  size_t fWorkerBytesTotal = 0;
  size_t fParkedBytesTotal = 0;       // the sum of the jobs' parkedBytes
  size_t fPiecesOut = 0;              // pieces of work claimed and not yet back
  bool fWaitingForMemory = false;     // work was not handed out for want of memory
  bool fMemoryReturned = false;       // memory came back while work waited for it: wake them
  std::vector<std::thread> fWorkers;  // last: they start once everything above exists
};

}  // namespace tarvix
