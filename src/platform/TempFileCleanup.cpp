#include "platform/TempFileCleanup.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>

#include "platform/FileSystem.h"

namespace tarvix {

namespace {

constexpr int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

// One temporary file the signal handler removes. Lock-free atomics only, as the handler may
// run between any two instructions of any thread.
struct TPendingSlot {
  std::atomic<int> state{0};  // kFree, kClaimed (name being written) or kArmed
  char path[PATH_MAX + 1];
};
enum : int { kFree = 0, kClaimed = 1, kArmed = 2 };
static_assert(std::atomic<int>::is_always_lock_free);

TPendingSlot gSlots[kMaxTempFiles];

// Threads making a temporary file, and whether the process is dying: the handler waits until
// no file is half made (created but not yet in a slot), and no file is begun after it started.
std::atomic<int> gCreating{0};
std::atomic<int> gDying{0};

sigset_t CleanupSignalSet() {
  sigset_t set;
  sigemptyset(&set);
  for (int signalNumber : kCleanupSignals) sigaddset(&set, signalNumber);
  return set;
}

extern "C" void RemoveTempFilesAndDie(int signalNumber) {
  gDying.store(1);
  // Never waits for itself: a thread holds these signals back while it makes a file.
  while (gCreating.load() != 0) {
  }
  for (TPendingSlot& slot : gSlots) {
    if (slot.state.load(std::memory_order_acquire) == kArmed) ::unlink(slot.path);
  }
  // Die by the same signal, so that the parent sees the conventional status.
  ::signal(signalNumber, SIG_DFL);
  ::raise(signalNumber);
}

// Takes a free slot and records `name` in it; -1 when none is free or the name is too long
// (the handler could not remove that file; callers keep their temporary files below the limit).
int Arm(const std::string& name) {
  if (name.size() > PATH_MAX) return -1;
  for (int i = 0; i < kMaxTempFiles; ++i) {
    int expected = kFree;
    if (gSlots[i].state.compare_exchange_strong(expected, kClaimed, std::memory_order_acquire)) {
      std::memcpy(gSlots[i].path, name.c_str(), name.size() + 1);
      gSlots[i].state.store(kArmed, std::memory_order_release);
      return i;
    }
  }
  return -1;
}

void Disarm(int slot) {
  if (slot >= 0) gSlots[slot].state.store(kFree, std::memory_order_release);
}

thread_local sigset_t tSavedMask;

}  // namespace

void InstallTempFileCleanup() {
  for (int signalNumber : kCleanupSignals) {
    struct sigaction action = {};
    action.sa_handler = RemoveTempFilesAndDie;
    sigemptyset(&action.sa_mask);
    ::sigaction(signalNumber, &action, nullptr);
  }
  ::signal(SIGXFSZ, SIG_IGN);
}

void BlockCleanupSignalsInThisThread() {
  sigset_t set = CleanupSignalSet();
  ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

TTempFile::TTempFile(const std::string& dir, const std::string& displayName) {
  BlockSignals();
  gCreating.fetch_add(1);
  int error = EINTR;  // what a dying process reports: the file was not made
  if (gDying.load() == 0) {
    int fd = -1;
    fName = CreateTempFile(dir, &fd);
    error = errno;
    if (!fName.empty()) {
      fSlot = Arm(fName);
      fSink = std::make_unique<TFileSink>(fd, displayName.empty() ? fName : displayName);
    }
  }
  gCreating.fetch_sub(1);
  UnblockSignals();
  errno = error;
}

TTempFile::~TTempFile() {
  if (fName.empty()) return;
  fSink.reset();  // closes the descriptor
  BlockSignals();
  DeleteFileName(fName);
  Forget();
  UnblockSignals();
}

void TTempFile::BlockSignals() {
  sigset_t set = CleanupSignalSet();
  ::pthread_sigmask(SIG_BLOCK, &set, &tSavedMask);
}

void TTempFile::UnblockSignals() {
  ::pthread_sigmask(SIG_SETMASK, &tSavedMask, nullptr);
}

void TTempFile::Forget() {
  Disarm(fSlot);
  fSlot = -1;
  fName.clear();
}

}  // namespace tarvix
