// A shim loaded into the program under test (LD_PRELOAD) that stalls a thread right after it
// lets a mutex go, now and then, for long enough that the other threads run on meanwhile. What
// a thread reads of shared state after letting its lock go is then read while others change or
// free it, where the sanitizers see it, instead of in the rare moment that would make it show.
#include <dlfcn.h>
#include <pthread.h>
#include <time.h>

#include <atomic>

namespace {

using TUnlock = int (*)(pthread_mutex_t*);

// Every so many unlocks stall: often enough to land on every kind of release in a run, seldom
// enough that a run still ends in seconds.
constexpr unsigned kStallEvery = 13;
constexpr long kStallNanoseconds = 2'000'000;

std::atomic<unsigned> gUnlocks{0};

}  // namespace

extern "C" int pthread_mutex_unlock(pthread_mutex_t* mutex) {
  static const auto real = reinterpret_cast<TUnlock>(::dlsym(RTLD_NEXT, "pthread_mutex_unlock"));
  const int result = real(mutex);
  if (gUnlocks.fetch_add(1, std::memory_order_relaxed) % kStallEvery == 0) {
    const timespec stall{0, kStallNanoseconds};
    ::nanosleep(&stall, nullptr);
  }
  return result;
}
