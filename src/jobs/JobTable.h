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

// One item of the window. `index`, `item` and `names` are set before the job enters the window
// and only read afterwards. Every other field is shared by the calling thread and the workers
// and guarded by the table's mutex; the calling thread reads `check`, `failure` and
// `conversion` without it once the job is done. `conversion` is set under the lock by the
// thread that opened it; its runs are then called without the lock, each by the thread that
// claimed it.
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
  size_t runsDone = 0;         // runs back without failing, verification runs included
  size_t progressRuns = 0;     // the runs that make 100%: known once opened
  bool abandoned = false;      // a run gave up: the output is incomplete
  size_t failedRun = kNoRun;   // the first run that failed (kNoRun: none); the open counts as 0
  std::exception_ptr failure;  // its error
  // -keeptime: the source's times, read before it entered the window (before any thread read
  // the source, which may change its access time); only read afterwards. Unset when the source
  // did not exist yet then.
  std::optional<TFileTimes> sourceTimes;
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
  static void Reset(TJob& job);

  // ---- The workers' side ----
  struct TClaim {
    TJob* job;
    size_t run;  // kNoRun: the opening
  };

  void WorkerLoop();
  std::optional<TClaim> Claim();
  std::optional<TClaim> ClaimFrom(TJob& job);
  size_t RunsAhead() const;
  bool MemoryAllows(size_t bytes) const;
  void Perform(TClaim claim, TWorkerMemory& memory);
  std::optional<TClaim> Open(TJob& job, TWorkerMemory& memory);
  void ConvertRun(TJob& job, size_t run, TWorkerMemory& memory);
  void FinishOutput(TJob& job, TWorkerMemory& memory);

  const TRunOptions& fOptions;
  const TCheck fCheck;
  TWorkerMemory fMemory;  // the calling thread's, when there are no workers

  std::mutex fMutex;                   // guards the window, every job's shared fields and the
                                       // four fields below
  std::condition_variable fWorkReady;  // work to claim, memory returned, or stopping
  std::condition_variable fDone;       // a job reached kDone, or a run came back
  std::deque<std::unique_ptr<TJob>> fWindow;  // the items from the one whose turn it is on
  bool fStopping = false;
  bool fAlone = false;  // the item whose turn it is runs alone (converted again after a failure)
  size_t fMemoryInFlight = 0;      // RunMemoryBytes of the runs claimed and not yet back
  bool fWaitingForMemory = false;  // a run was not handed out for want of memory
  std::vector<std::thread> fWorkers;  // last: they start once everything above exists
};

}  // namespace tarvix
