#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <memory>

#include "platform/DirectoryListing.h"

namespace tarvix {

namespace {

bool IsDirectoryEntry(const std::string& dir, const dirent& entry) {
  if (entry.d_type == DT_DIR) return true;
  if (entry.d_type != DT_LNK && entry.d_type != DT_UNKNOWN) return false;
  struct stat info;
  std::string path = dir + entry.d_name;
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace

TSystemResult TDirListing::Open(const std::string& dir, std::string_view mask) {
  Close();
  std::string prefix = dir.empty() ? std::string("./") : dir;
  if (prefix.back() != '/') prefix += '/';
  struct TCloseDir {
    void operator()(DIR* dir) const { ::closedir(dir); }
  };
  std::unique_ptr<DIR, TCloseDir> handle(::opendir(prefix.c_str()));
  if (!handle) return TSystemResult::FromSystemCode(errno);
  int error = 0;
  while (true) {
    errno = 0;
    const dirent* entry = ::readdir(handle.get());
    if (entry == nullptr) {
      // What was listed before a failing read is kept; the failure is told all the same.
      error = errno;
      break;
    }
    std::string_view name = entry->d_name;
    if (name == "." || name == ".." || !MatchesMask(name, mask)) continue;
    fEntries.push_back({std::string(name), IsDirectoryEntry(prefix, *entry)});
  }
  std::sort(fEntries.begin(), fEntries.end(),
            [](const TDirEntry& a, const TDirEntry& b) { return a.name < b.name; });
  return TSystemResult::FromSystemCode(error);
}

}  // namespace tarvix
