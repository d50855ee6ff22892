#include "platform/TempFileCleanup.h"

#include "PosixFeatures.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#if TARVIX_HAVE_SENDFILE
#include <sys/sendfile.h>
#endif

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>

#include "platform/AlignedBuffer.h"
#include "platform/Errors.h"
#include "platform/FileSystem.h"

namespace tarvix {

namespace {

// What a pipe is read or written in at a time.
constexpr size_t kPipeChunkBytes = size_t{1} << 20;

constexpr int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

// One named temporary file the signal handler removes. Lock-free atomics only, as the handler
// may run between any two instructions of any thread.
struct TPendingSlot {
  std::atomic<int> state{0};  // kFree, kClaimed (name being written) or kArmed
  char path[PATH_MAX + 1];
};
enum : int { kFree = 0, kClaimed = 1, kArmed = 2 };
static_assert(std::atomic<int>::is_always_lock_free);

TPendingSlot gSlots[kMaxTempFiles];

// Threads making a named temporary file, and whether the process is dying: the handler waits
// until no file is half made (created but not yet in a slot), and none is begun after it started.
std::atomic<int> gCreating{0};
std::atomic<int> gDying{0};

// Set once an unnamed file could not be given a name here (an old kernel, no /proc): from then
// on temporary files are named from the start. A system without unnamed files starts so.
std::atomic<bool> gNamedOnly{!TARVIX_HAVE_O_TMPFILE};

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

// Holds the cleanup signals back on this thread for as long as it lives.
class TSignalsHeld {
 public:
  TSignalsHeld() {
    sigset_t set = CleanupSignalSet();
    ::pthread_sigmask(SIG_BLOCK, &set, &fSaved);
  }
  ~TSignalsHeld() { ::pthread_sigmask(SIG_SETMASK, &fSaved, nullptr); }
  TSignalsHeld(const TSignalsHeld&) = delete;
  TSignalsHeld& operator=(const TSignalsHeld&) = delete;

 private:
  sigset_t fSaved;
};

// Copies the whole of one open file into another, in the kernel where it can.
int CopyFileData(int from, int to) {
  struct stat info;
  if (::fstat(from, &info) != 0) return errno;
  off_t offset = 0;
#if TARVIX_HAVE_SENDFILE
  while (offset < info.st_size) {
    ssize_t n = ::sendfile(to, from, &offset, static_cast<size_t>(info.st_size - offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 ? errno : EIO;
  }
#else
  // By position, as the file's own offset may be anywhere.
  TAlignedBuffer buffer;
  buffer.Reserve(kPipeChunkBytes);
  while (offset < info.st_size) {
    const size_t chunk = static_cast<size_t>(
        std::min<off_t>(info.st_size - offset, static_cast<off_t>(buffer.Capacity())));
    const ssize_t n = ::pread(from, buffer.Data(), chunk, offset);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 ? errno : EIO;
    for (ssize_t done = 0; done < n;) {
      const ssize_t written =
          ::pwrite(to, buffer.Data() + done, static_cast<size_t>(n - done), offset + done);
      if (written < 0 && errno == EINTR) continue;
      if (written <= 0) return written < 0 ? errno : EIO;
      done += written;
    }
    offset += n;
  }
#endif
  return 0;
}

// A file in the folder's file system that no folder lists yet; -1 with EOPNOTSUPP where the
// system makes no such files.
int OpenUnnamed(const std::string& dir) {
#if TARVIX_HAVE_O_TMPFILE
  return ::open(dir.empty() ? "." : dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
#else
  (void)dir;
  errno = EOPNOTSUPP;
  return -1;
#endif
}

}  // namespace

// What only this system's implementation does with a temporary file.
struct TTempFileSystem {
  static void CreateNamed(TTempFile& file);
  static int LinkUnnamed(const TTempFile& file, const std::string& target);
  static int NameUnnamed(TTempFile& file);
  static void Forget(TTempFile& file);
};

void InstallTempFileCleanup() {
  for (int signalNumber : kCleanupSignals) {
    struct sigaction action = {};
    action.sa_handler = RemoveTempFilesAndDie;
    sigemptyset(&action.sa_mask);
    ::sigaction(signalNumber, &action, nullptr);
  }
  ::signal(SIGXFSZ, SIG_IGN);
}

void UseNamedTempFiles() {
  gNamedOnly.store(true);
}

void BlockCleanupSignalsInThisThread() {
  sigset_t set = CleanupSignalSet();
  ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

TTempFile::TTempFile(const std::string& dir, const std::string& displayName)
    : fDir(dir), fDisplayName(displayName) {
  if (!gNamedOnly.load()) {
    fFd = OpenUnnamed(dir);
    if (fFd < 0 && (errno == ENOENT || errno == ENOTDIR)) {
      fCreation = TSystemResult::FromSystemCode(errno);  // no such folder
      return;
    }
  }
  if (fFd < 0) {
    TTempFileSystem::CreateNamed(*this);  // the file system has no unnamed files, or refuses them
    return;
  }
  fSink = std::make_unique<TFileSink>(fFd, fDisplayName);
}

void TTempFileSystem::CreateNamed(TTempFile& file) {
  TSignalsHeld held;
  gCreating.fetch_add(1);
  // What a dying process reports: the file was not made.
  file.fCreation = TSystemResult::FromSystemCode(EINTR);
  if (gDying.load() == 0) {
    file.fCreation = CreateTempFile(file.fDir, file.fName, &file.fFd);
    if (file.fCreation.Ok()) {
      file.fSlot = Arm(file.fName);
      file.fSink = std::make_unique<TFileSink>(
          file.fFd, file.fDisplayName.empty() ? file.fName : file.fDisplayName);
    }
  }
  gCreating.fetch_sub(1);
}

TTempFile::~TTempFile() {
  fSink.reset();  // closes the descriptor: an unnamed file is gone with it
  if (fName.empty()) return;
  TSignalsHeld held;
  DeleteFileName(fName);
  TTempFileSystem::Forget(*this);
}

void TTempFile::Close() {
  // An unnamed file is named through its descriptor, so that stays open until it is placed.
  if (!fName.empty()) fSink->Close();
}

std::unique_ptr<TFileSource> TTempFile::OpenForReading() const {
  // An unnamed file is still open, for reading too: read through that descriptor, so that
  // reading back takes no descriptor more than writing did. A named one was closed by Close.
  if (fName.empty()) return std::make_unique<TFileSource>(fFd, fDisplayName);
  return std::make_unique<TFileSource>(fName);
}

std::string TTempFile::ReadableName() {
  // An unnamed file (made on Linux only) is reached through its descriptor's entry.
  return fName.empty() ? "/proc/self/fd/" + std::to_string(fFd) : fName;
}

uint64_t TTempFile::FillFrom(TFileHandle fd, const std::string& sourceName) {
  TAlignedBuffer buffer;
  buffer.Reserve(kPipeChunkBytes);
  uint64_t total = 0;
  while (true) {
    const ssize_t n = ::read(fd, buffer.Data(), buffer.Capacity());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      throw TFileError(TFileErrorKind::kRead, "Error while reading the file", sourceName, errno);
    }
    if (n == 0) return total;
    fSink->WriteAt(total, buffer.Data(), static_cast<size_t>(n));
    total += static_cast<uint64_t>(n);
  }
}

void TTempFile::CopyInto(TFileHandle fd, const std::string& targetName) {
  const int from = ::open(ReadableName().c_str(), O_RDONLY | O_CLOEXEC);
  if (from < 0) {
    throw TFileError(TFileErrorKind::kCannotOpen, "Can't open file", ReadableName(), errno);
  }
  TAlignedBuffer buffer;
  buffer.Reserve(kPipeChunkBytes);
  int error = 0;
  while (error == 0) {
    const ssize_t n = ::read(from, buffer.Data(), buffer.Capacity());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n < 0) error = errno;
      break;
    }
    for (ssize_t done = 0; done < n;) {
      const ssize_t written = ::write(fd, buffer.Data() + done, static_cast<size_t>(n - done));
      if (written < 0 && errno == EINTR) continue;
      if (written <= 0) {
        error = written < 0 ? errno : EIO;
        break;
      }
      done += written;
    }
  }
  ::close(from);
  if (error != 0) {
    throw TFileError(TFileErrorKind::kWrite, "Error while writing the file", targetName, error);
  }
}

// Links the unnamed file under `target`: through its descriptor where the system allows that,
// else through its entry in /proc.
int TTempFileSystem::LinkUnnamed(const TTempFile& file, const std::string& target) {
  const int fd = static_cast<int>(file.fFd);
#if TARVIX_HAVE_AT_EMPTY_PATH
  if (::linkat(fd, "", AT_FDCWD, target.c_str(), AT_EMPTY_PATH) == 0) return 0;
  if (errno == EEXIST) return EEXIST;
#endif
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, target.c_str(), AT_SYMLINK_FOLLOW) == 0) return 0;
  return errno;
}

// An unnamed file that cannot be linked here becomes a named one, its data copied over; later
// temporary files are named from the start.
int TTempFileSystem::NameUnnamed(TTempFile& file) {
  gNamedOnly.store(true);
  // Closes the unnamed file at the end.
  std::unique_ptr<TFileSink> unnamed = std::move(file.fSink);
  const TFileHandle unnamedFd = file.fFd;
  file.fFd = kNoFileHandle;
  CreateNamed(file);
  if (file.fName.empty()) {
    file.fSink = std::move(unnamed);
    file.fFd = unnamedFd;
    return file.fCreation.SystemCode();
  }
  int error = CopyFileData(static_cast<int>(unnamedFd), static_cast<int>(file.fFd));
  if (error == 0) {
    try {
      file.fSink->Close();
    } catch (const TFileError& closing) {
      error = closing.ErrorNumber() != 0 ? closing.ErrorNumber() : EIO;
    }
  }
  return error;
}

TSystemResult TTempFile::PlaceWithoutReplacing(const std::string& target) {
  TSignalsHeld held;
  if (fName.empty()) {
    const int error = TTempFileSystem::LinkUnnamed(*this, target);
    if (error == 0 || error == EEXIST) {
      if (error == 0) TTempFileSystem::Forget(*this);
      return TSystemResult::FromSystemCode(error);
    }
    // Any other failure may be this system's way of refusing the link itself: as a named file
    // the placement either works or reports the real reason.
    if (const int naming = TTempFileSystem::NameUnnamed(*this); naming != 0) {
      return TSystemResult::FromSystemCode(naming);
    }
  }
  const TSystemResult renamed = RenameNoReplace(fName, target);
  if (renamed.Ok()) TTempFileSystem::Forget(*this);
  return renamed;
}

TSystemResult TTempFile::PlaceReplacing(const std::string& target) {
  TSignalsHeld held;
  if (fName.empty()) {
    // A name of its own first, then the one atomic rename over the target.
    for (int attempt = 0; attempt < 100 && fName.empty(); ++attempt) {
      const std::string name = RandomTempName(fDir);
      const int error = TTempFileSystem::LinkUnnamed(*this, name);
      if (error == 0) {
        fName = name;
        fSlot = Arm(fName);
      } else if (error != EEXIST) {
        if (const int naming = TTempFileSystem::NameUnnamed(*this); naming != 0) {
          return TSystemResult::FromSystemCode(naming);
        }
      }
    }
    if (fName.empty()) return TSystemResult::FromSystemCode(EEXIST);
  }
  const TSystemResult renamed = RenameReplacing(fName, target);
  if (renamed.Ok()) TTempFileSystem::Forget(*this);
  return renamed;
}

void TTempFileSystem::Forget(TTempFile& file) {
  Disarm(file.fSlot);
  file.fSlot = -1;
  file.fName.clear();
}

}  // namespace tarvix
