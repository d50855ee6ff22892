// What Windows error codes mean to the program. The reasons of the common failures are worded
// as on the POSIX systems, so that messages read the same whatever system wrote them and a
// script that looks for one finds it everywhere.
#include <windows.h>

#include <string>

#include "WideNames.h"
#include "platform/Errors.h"

namespace tarvix {

namespace {

struct TWording {
  DWORD code;
  const char* reason;
};

constexpr TWording kWordings[] = {
    {ERROR_FILE_NOT_FOUND, "No such file or directory"},
    {ERROR_PATH_NOT_FOUND, "No such file or directory"},
    {ERROR_INVALID_DRIVE, "No such file or directory"},
    {ERROR_BAD_NETPATH, "No such file or directory"},
    {ERROR_BAD_NET_NAME, "No such file or directory"},
    {ERROR_FILE_EXISTS, "File exists"},
    {ERROR_ALREADY_EXISTS, "File exists"},
    {ERROR_DIR_NOT_EMPTY, "Directory not empty"},
    {ERROR_ACCESS_DENIED, "Permission denied"},
    {ERROR_WRITE_PROTECT, "Read-only file system"},
    {ERROR_DIRECTORY, "Not a directory"},
    {ERROR_DISK_FULL, "No space left on device"},
    {ERROR_HANDLE_DISK_FULL, "No space left on device"},
    {ERROR_TOO_MANY_OPEN_FILES, "Too many open files"},
    {ERROR_NOT_ENOUGH_MEMORY, "Cannot allocate memory"},
    {ERROR_OUTOFMEMORY, "Cannot allocate memory"},
    {ERROR_FILENAME_EXCED_RANGE, "File name too long"},
    {ERROR_INVALID_NAME, "Invalid argument"},
    {ERROR_BROKEN_PIPE, "Broken pipe"},
    {ERROR_NO_DATA, "Broken pipe"},
    {ERROR_CRC, "Input/output error"},
    {ERROR_READ_FAULT, "Input/output error"},
    {ERROR_WRITE_FAULT, "Input/output error"},
    {ERROR_OPERATION_ABORTED, "Interrupted system call"},
};

}  // namespace

TFault FaultOfErrorNumber(int errorNumber, TFault side) {
  switch (static_cast<DWORD>(errorNumber)) {
    case ERROR_TOO_MANY_OPEN_FILES:
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
    case ERROR_NO_SYSTEM_RESOURCES:
    case ERROR_NONPAGED_SYSTEM_RESOURCES:
    case ERROR_PAGED_SYSTEM_RESOURCES:
    case ERROR_NOT_ENOUGH_QUOTA:
    case ERROR_COMMITMENT_LIMIT:
      return TFault::kResource;
    default:
      return side;
  }
}

TSystemResult::TWhy TSystemResult::Why() const {
  switch (static_cast<DWORD>(fCode)) {
    case 0:
      return TWhy::kNone;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
    case ERROR_DIR_NOT_EMPTY:
      return TWhy::kNameTaken;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
      return TWhy::kNotFound;
    case ERROR_DIRECTORY:
      return TWhy::kNotAFolder;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return TWhy::kNoPermission;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return TWhy::kNoSpace;
    default:
      return FaultOfErrorNumber(fCode, TFault::kSource) == TFault::kResource ? TWhy::kShortOf
                                                                             : TWhy::kOther;
  }
}

std::string SystemReason(int errorNumber) {
  const auto code = static_cast<DWORD>(errorNumber);
  for (const TWording& wording : kWordings) {
    if (wording.code == code) return wording.reason;
  }
  // Any other code in the system's words, without the closing period and line end.
  wchar_t* text = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string reason;
  if (length != 0 && text != nullptr) reason = WideToUtf8({text, length});
  if (text != nullptr) ::LocalFree(text);
  while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' ||
                             reason.back() == ' ' || reason.back() == '.')) {
    reason.pop_back();
  }
  return reason.empty() ? "Windows error " + std::to_string(code) : reason;
}

}  // namespace tarvix
