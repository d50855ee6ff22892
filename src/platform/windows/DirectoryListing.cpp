#include "platform/DirectoryListing.h"

#include <windows.h>

#include <algorithm>

#include "WideNames.h"
#include "platform/FileNames.h"
#include "platform/FileSystem.h"

namespace tarvix {

namespace {

// A link to a folder is listed as a folder, as a POSIX listing that follows links shows it.
bool IsDirectoryEntry(const std::string& dir, const WIN32_FIND_DATAW& found,
                      const std::string& name) {
  if ((found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    return (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  }
  return DirectoryExists(dir + name);
}

}  // namespace

TSystemResult TDirListing::Open(const std::string& dir, std::string_view mask) {
  Close();
  std::string prefix = dir.empty() ? std::string(".") + kPathDelimiter : dir;
  if (!EndsInDelimiter(prefix)) prefix += kPathDelimiter;
  WIN32_FIND_DATAW found;
  // Every entry is asked for and matched here, so that masks mean what they mean elsewhere
  // (the system's own matching also takes the short 8.3 names into account).
  // A drive alone ("D:") is its current folder, whose full name has no delimiter at its end.
  std::wstring pattern = SystemName(prefix);
  if (!pattern.ends_with(L'\\')) pattern += L'\\';
  pattern += L'*';
  HANDLE search = ::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found,
                                     FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
  if (search == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    // An empty folder (a drive's root has no "." to list) is no failure.
    return TSystemResult::FromSystemCode(error == ERROR_FILE_NOT_FOUND ? 0
                                                                       : static_cast<int>(error));
  }
  DWORD error = 0;
  do {
    const std::string name = WideToUtf8(found.cFileName);
    if (name == "." || name == ".." || !MatchesMask(name, mask)) continue;
    fEntries.push_back({name, IsDirectoryEntry(prefix, found, name)});
  } while (::FindNextFileW(search, &found));
  error = ::GetLastError();
  ::FindClose(search);
  std::sort(fEntries.begin(), fEntries.end(),
            [](const TDirEntry& a, const TDirEntry& b) { return a.name < b.name; });
  // What was listed before a failing read is kept; the failure is told all the same.
  return TSystemResult::FromSystemCode(error == ERROR_NO_MORE_FILES ? 0 : static_cast<int>(error));
}

}  // namespace tarvix
