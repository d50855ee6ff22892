#include "platform/FileSystem.h"

#include <windows.h>

#include <bit>
#include <climits>
#include <cstdint>

#include "WideNames.h"
#include "platform/Errors.h"

namespace tarvix {

namespace {

// FILETIME counts 100 ns from 1601; the program counts seconds and nanoseconds from 1970.
constexpr int64_t kTicksPerSecond = 10'000'000;
constexpr int64_t kEpochDifferenceSeconds = 11'644'473'600;

bool NotFound(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
         error == ERROR_INVALID_NAME || error == ERROR_INVALID_DRIVE ||
         error == ERROR_BAD_NETPATH || error == ERROR_BAD_NET_NAME;
}

// The attributes of `name`, links followed: a link's own attributes say nothing of what it
// leads to. INVALID_FILE_ATTRIBUTES when there is nothing to reach.
DWORD AttributesFollowingLinks(const std::string& name) {
  if (name.empty()) return INVALID_FILE_ATTRIBUTES;
  const DWORD attributes = ::GetFileAttributesW(SystemName(name).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    return attributes;
  }
  TOwnedHandle file(OpenForAttributes(name));
  BY_HANDLE_FILE_INFORMATION info;
  if (!file.Valid() || !::GetFileInformationByHandle(file.Get(), &info)) {
    return INVALID_FILE_ATTRIBUTES;
  }
  return info.dwFileAttributes;
}

// The reparse tag of the name itself, 0 when it is no reparse point.
DWORD ReparseTag(const std::string& name) {
  WIN32_FIND_DATAW found;
  HANDLE search = ::FindFirstFileW(SystemName(name).c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return 0;
  ::FindClose(search);
  return (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? found.dwReserved0 : 0;
}

FILETIME ToFileTime(int64_t seconds, long nanoseconds) {
  const int64_t ticks = (seconds + kEpochDifferenceSeconds) * kTicksPerSecond + nanoseconds / 100;
  FILETIME time;
  time.dwLowDateTime = static_cast<DWORD>(static_cast<uint64_t>(ticks));
  time.dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(ticks) >> 32);
  return time;
}

void FromFileTime(const FILETIME& time, int64_t& seconds, long& nanoseconds) {
  const auto ticks =
      static_cast<int64_t>((static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
  seconds = ticks / kTicksPerSecond - kEpochDifferenceSeconds;
  nanoseconds = static_cast<long>(ticks % kTicksPerSecond * 100);
}

}  // namespace

bool FileExists(const std::string& name) {
  const DWORD attributes = AttributesFollowingLinks(name);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool DirectoryExists(const std::string& name) {
  const DWORD attributes = AttributesFollowingLinks(name);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

TSystemResult Examine(const std::string& name) {
  if (name.empty() || ::GetFileAttributesW(SystemName(name).c_str()) != INVALID_FILE_ATTRIBUTES) {
    return {};
  }
  const DWORD error = ::GetLastError();
  if (NotFound(error) || error == ERROR_DIRECTORY) return {};
  return TSystemResult::FromSystemCode(static_cast<int>(error));
}

TSystemResult IdentifyFile(const std::string& name, TFileId& id) {
  TOwnedHandle file(OpenForAttributes(name));
  BY_HANDLE_FILE_INFORMATION info;
  if (!file.Valid() || !::GetFileInformationByHandle(file.Get(), &info)) {
    return TSystemResult::FromSystemCode(LastErrorCode());
  }
  id = {info.dwVolumeSerialNumber,
        (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
  return {};
}

bool NameTaken(const std::string& name) {
  if (name.empty()) return false;
  if (::GetFileAttributesW(SystemName(name).c_str()) != INVALID_FILE_ATTRIBUTES) return true;
  // A name the system will not describe (in use, being deleted, not allowed) is no free name
  // either: it is never written over.
  const DWORD error = ::GetLastError();
  return !NotFound(error) && error != ERROR_DIRECTORY;
}

bool IsSymbolicLink(const std::string& name) {
  if (name.empty()) return false;
  const DWORD tag = ReparseTag(name);
  return tag == IO_REPARSE_TAG_SYMLINK || tag == IO_REPARSE_TAG_MOUNT_POINT;
}

bool IsRegularFileItself(const std::string& name) {
  if (name.empty()) return false;
  const DWORD attributes = ::GetFileAttributesW(SystemName(name).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
         !IsSymbolicLink(name);
}

TSystemResult CreateDir(const std::string& path) {
  if (path.empty()) return TSystemResult::FromSystemCode(ERROR_PATH_NOT_FOUND);
  if (::CreateDirectoryW(SystemName(path).c_str(), nullptr)) return {};
  const DWORD error = ::GetLastError();
  // Another run making the same tree may have been first: its folder serves as well.
  if (error == ERROR_ALREADY_EXISTS && DirectoryExists(path)) return {};
  return TSystemResult::FromSystemCode(static_cast<int>(error));
}

bool DeleteFileName(const std::string& name) {
  return ::DeleteFileW(SystemName(name).c_str()) != 0;
}

TSystemResult RenameReplacing(const std::string& from, const std::string& to) {
  const bool done = ::MoveFileExW(SystemName(from).c_str(), SystemName(to).c_str(),
                                  MOVEFILE_REPLACE_EXISTING) != 0;
  return TSystemResult::FromSystemCode(done ? 0 : LastErrorCode());
}

TSystemResult RenameNoReplace(const std::string& from, const std::string& to) {
  // Without MOVEFILE_REPLACE_EXISTING the system refuses any existing target in the same step.
  const bool done = ::MoveFileExW(SystemName(from).c_str(), SystemName(to).c_str(), 0) != 0;
  return TSystemResult::FromSystemCode(done ? 0 : LastErrorCode());
}

TSystemResult CreateTempFile(const std::string& dir, std::string& name, TFileHandle* file) {
  DWORD error = ERROR_FILE_EXISTS;
  for (int attempt = 0; attempt < 100 && error == ERROR_FILE_EXISTS; ++attempt) {
    const std::string candidate = RandomTempName(dir);
    HANDLE opened = ::CreateFileW(SystemName(candidate).c_str(), GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
    error = opened != INVALID_HANDLE_VALUE ? 0 : ::GetLastError();
    if (opened == INVALID_HANDLE_VALUE) continue;
    if (file != nullptr) {
      *file = reinterpret_cast<TFileHandle>(opened);
    } else {
      ::CloseHandle(opened);
    }
    name = candidate;
  }
  return TSystemResult::FromSystemCode(static_cast<int>(error));
}

TSystemResult ReadFileTimes(const std::string& name, TFileTimes& times) {
  TOwnedHandle file(OpenForAttributes(name));
  FILETIME access, modify;
  if (!file.Valid() || !::GetFileTime(file.Get(), nullptr, &access, &modify)) {
    return TSystemResult::FromSystemCode(LastErrorCode());
  }
  FromFileTime(access, times.accessSeconds, times.accessNanoseconds);
  FromFileTime(modify, times.modifySeconds, times.modifyNanoseconds);
  return {};
}

TSystemResult WriteFileTimes(const std::string& name, const TFileTimes& times) {
  TOwnedHandle file(
      ::CreateFileW(SystemName(name).c_str(), FILE_WRITE_ATTRIBUTES,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  const FILETIME access = ToFileTime(times.accessSeconds, times.accessNanoseconds);
  const FILETIME modify = ToFileTime(times.modifySeconds, times.modifyNanoseconds);
  if (!file.Valid() || !::SetFileTime(file.Get(), nullptr, &access, &modify)) {
    return TSystemResult::FromSystemCode(LastErrorCode());
  }
  return {};
}

std::string TempFolder() {
  wchar_t buffer[MAX_PATH + 2];
  const DWORD length = ::GetTempPathW(MAX_PATH + 2, buffer);
  if (length == 0 || length > MAX_PATH + 1) return AddTrailingDelimiter(".");
  return AddTrailingDelimiter(WideToUtf8({buffer, length}));
}

int AvailableCores() {
  DWORD_PTR process = 0, system = 0;
  if (::GetProcessAffinityMask(::GetCurrentProcess(), &process, &system) && process != 0) {
    return std::popcount(static_cast<uint64_t>(process));
  }
  SYSTEM_INFO info;
  ::GetSystemInfo(&info);
  return info.dwNumberOfProcessors > 0 ? static_cast<int>(info.dwNumberOfProcessors) : 1;
}

size_t DescriptorLimit() {
  // A process may hold 2^24 handles less the system's own share of the table.
  return (size_t{1} << 24) - (size_t{1} << 16);
}

void PrepareForManyThreads() {
  // The C runtime's heap is shared by all threads already, and a thread's stack is reserved
  // address space that is committed as it is used: nothing to tune.
}

bool IsWritableFile(const std::string& name) {
  // The read-only attribute is the owner's word that the file is kept.
  const DWORD attributes = AttributesFollowingLinks(name);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
         (attributes & FILE_ATTRIBUTE_READONLY) == 0;
}

}  // namespace tarvix
