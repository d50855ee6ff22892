#include "platform/FileSystem.h"

#include "PosixFeatures.h"

#include <fcntl.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#if TARVIX_HAVE_MALLOPT
#include <malloc.h>
#endif
#if TARVIX_HAVE_SCHED_GETAFFINITY
#include <sched.h>
#endif

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "platform/Errors.h"

namespace tarvix {

namespace {

bool StatFollowingLinks(const std::string& name, struct stat& info) {
  return !name.empty() && ::stat(name.c_str(), &info) == 0;
}

}  // namespace

bool FileExists(const std::string& name) {
  struct stat info;
  return StatFollowingLinks(name, info) && !S_ISDIR(info.st_mode);
}

bool DirectoryExists(const std::string& name) {
  struct stat info;
  return StatFollowingLinks(name, info) && S_ISDIR(info.st_mode);
}

TSystemResult Examine(const std::string& name) {
  struct stat info;
  if (name.empty() || ::stat(name.c_str(), &info) == 0) return {};
  const int error = errno;
  // ENOTDIR: a part of the path is a file, so nothing of that name can exist.
  if (error == ENOENT || error == ENOTDIR) return {};
  return TSystemResult::FromSystemCode(error);
}

TSystemResult IdentifyFile(const std::string& name, TFileId& id) {
  struct stat info;
  if (::stat(name.c_str(), &info) != 0) return TSystemResult::FromSystemCode(errno);
  id = {static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino)};
  return {};
}

bool NameTaken(const std::string& name) {
  struct stat info;
  return !name.empty() && ::lstat(name.c_str(), &info) == 0;
}

bool IsSymbolicLink(const std::string& name) {
  struct stat info;
  return !name.empty() && ::lstat(name.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

bool IsRegularFileItself(const std::string& name) {
  struct stat info;
  return !name.empty() && ::lstat(name.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

TSystemResult CreateDir(const std::string& path) {
  if (path.empty()) return TSystemResult::FromSystemCode(ENOENT);
  if (::mkdir(path.c_str(), 0777) == 0) return {};
  const int error = errno;
  // Another run making the same tree may have been first: its folder serves as well.
  if (error == EEXIST && DirectoryExists(path)) return {};
  return TSystemResult::FromSystemCode(error);
}

bool DeleteFileName(const std::string& name) {
  return ::unlink(name.c_str()) == 0;
}

TSystemResult RenameReplacing(const std::string& from, const std::string& to) {
  return TSystemResult::FromSystemCode(::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno);
}

namespace {

// The rename that fails on an existing target in one step; ENOSYS where the system has none.
int RenameExclusively(const std::string& from, const std::string& to) {
#if TARVIX_HAVE_RENAMEAT2
  return ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0 ? 0
                                                                                          : errno;
#else
  (void)from;
  (void)to;
  return ENOSYS;
#endif
}

int RenameNoReplaceCode(const std::string& from, const std::string& to) {
  int error = RenameExclusively(from, to);
  if (error == 0) return 0;
  if (error != EINVAL && error != ENOSYS && error != ENOTSUP) return error;
  // The system or the file system cannot rename without replacing; a hard link fails on an
  // existing target just the same, and the temporary name is dropped after it.
  if (::link(from.c_str(), to.c_str()) == 0) {
    ::unlink(from.c_str());
    return 0;
  }
  error = errno;
  if (error != EPERM && error != ENOTSUP && error != EOPNOTSUPP) return error;
  // Neither is available: test, then rename. Another process could slip in between; there is
  // nothing better on such a file system.
  if (::access(to.c_str(), F_OK) == 0) return EEXIST;
  return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

}  // namespace

TSystemResult RenameNoReplace(const std::string& from, const std::string& to) {
  return TSystemResult::FromSystemCode(RenameNoReplaceCode(from, to));
}

TSystemResult CreateTempFile(const std::string& dir, std::string& name, TFileHandle* fd) {
  // Created with the usual mode (0666 less the umask) right away, so no chmod is needed before
  // it becomes an output.
  int error = EEXIST;
  for (int attempt = 0; attempt < 100 && error == EEXIST; ++attempt) {
    const std::string candidate = RandomTempName(dir);
    const int opened = ::open(candidate.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    error = opened >= 0 ? 0 : errno;
    if (opened < 0) continue;
    if (fd != nullptr) {
      *fd = opened;
    } else {
      ::close(opened);
    }
    name = candidate;
  }
  return TSystemResult::FromSystemCode(error);
}

namespace {

// A stat's times to the nanosecond, under either system's member names.
const timespec& AccessTime(const struct stat& info) {
#if TARVIX_HAVE_STAT_TIMESPEC
  return info.st_atimespec;
#else
  return info.st_atim;
#endif
}

const timespec& ModifyTime(const struct stat& info) {
#if TARVIX_HAVE_STAT_TIMESPEC
  return info.st_mtimespec;
#else
  return info.st_mtim;
#endif
}

}  // namespace

TSystemResult ReadFileTimes(const std::string& name, TFileTimes& times) {
  struct stat info;
  if (::stat(name.c_str(), &info) != 0) return TSystemResult::FromSystemCode(errno);
  times.accessSeconds = AccessTime(info).tv_sec;
  times.accessNanoseconds = AccessTime(info).tv_nsec;
  times.modifySeconds = ModifyTime(info).tv_sec;
  times.modifyNanoseconds = ModifyTime(info).tv_nsec;
  return {};
}

TSystemResult WriteFileTimes(const std::string& name, const TFileTimes& times) {
  const timespec both[2] = {{static_cast<time_t>(times.accessSeconds), times.accessNanoseconds},
                            {static_cast<time_t>(times.modifySeconds), times.modifyNanoseconds}};
  const bool done = ::utimensat(AT_FDCWD, name.c_str(), both, AT_SYMLINK_NOFOLLOW) == 0;
  return TSystemResult::FromSystemCode(done ? 0 : errno);
}

std::string TempFolder() {
  const char* dir = std::getenv("TMPDIR");
  return AddTrailingDelimiter(dir != nullptr && *dir != '\0' ? dir : "/tmp");
}

int AvailableCores() {
#if TARVIX_HAVE_SCHED_GETAFFINITY
  cpu_set_t set;
  if (::sched_getaffinity(0, sizeof set, &set) == 0) {
    int count = CPU_COUNT(&set);
    if (count > 0) return count;
  }
  return 1;
#else
  // Without a way to ask which cores this process may use, every core that is on counts.
  const long online = ::sysconf(_SC_NPROCESSORS_ONLN);
  return online > 0 ? static_cast<int>(std::min<long>(online, INT_MAX)) : 1;
#endif
}

size_t DescriptorLimit() {
  struct rlimit limit;
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) {
    return SIZE_MAX;
  }
  return static_cast<size_t>(limit.rlim_cur);
}

// Where the system has neither call, its own defaults stand: that is how macOS runs, whose
// allocator keeps no arena per thread and whose threads start with stacks of 512 KiB.
void PrepareForManyThreads() {
#if TARVIX_HAVE_MALLOPT
  constexpr int kArenas = 4;
  ::mallopt(M_ARENA_MAX, kArenas);
  // Buffers of a run and more are mapped and unmapped on their own: memory a thread gives back
  // then leaves the process, instead of staying in an arena where the budget no longer sees it
  // (the default threshold rises to the size of the first such buffer freed).
  constexpr int kMappedFrom = 256 << 10;
  ::mallopt(M_MMAP_THRESHOLD, kMappedFrom);
#endif
#if TARVIX_HAVE_PTHREAD_SETATTR_DEFAULT_NP
  constexpr size_t kStackBytes = size_t{1} << 20;
  pthread_attr_t attributes;
  if (::pthread_attr_init(&attributes) != 0) return;
  if (::pthread_attr_setstacksize(&attributes, kStackBytes) == 0) {
    ::pthread_setattr_default_np(&attributes);
  }
  ::pthread_attr_destroy(&attributes);
#endif
}

bool IsWritableFile(const std::string& name) {
  // A file without any write permission is read-only for this program even where the process
  // could write it anyway (as root does): its owner made it so to keep it.
  struct stat info;
  if (!StatFollowingLinks(name, info) || (info.st_mode & 0222) == 0) return false;
  return ::access(name.c_str(), W_OK) == 0;
}

}  // namespace tarvix
