// TFileSearch: the files whose names match a mask in one folder and, when recursive, in every
// folder below it, one per call. The folder tree is walked once, when the search is made (depth
// first, each folder before the folders below it); the files of each folder are listed only
// when the enumeration reaches it, so that a folder changed meanwhile is listed as it is then.
// Nothing here prints or raises: a folder that cannot be read yields no files, and the search
// notes it with the system's reason for the owner to report.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/DirectoryListing.h"
#include "platform/FileSystem.h"

namespace tarvix {

struct TUnreadFolder {
  std::string folder;  // with a trailing delimiter
  std::string reason;  // the system's
};

class TFileSearch {
 public:
  // Takes a folder path followed by a mask, such as "In/*.wav"; without a folder part the
  // current directory is searched.
  TFileSearch(const std::string& searchSpec, bool recursive);

  // The path of the next file found; none once all are (and on every call after).
  std::optional<std::string> Next();

  // The folders the walk found it could not read, in the order of the walk: their files and
  // the folders below them are not searched. Then those that could no longer be read when
  // their files were to be listed, as the enumeration meets them.
  const std::vector<TUnreadFolder>& UnreadFolders() const { return fUnreadFolders; }

 private:
  void CollectFolders(const std::string& folder, std::vector<TFileId>& path);
  bool ListFolder(size_t index);
  bool MoveToNextFile();

  bool fRecursive;
  std::string fMask;                  // the file-name part of the search, e.g. "*.ncw"
  std::vector<std::string> fFolders;  // the folders to list, in depth-first pre-order
  std::vector<TUnreadFolder> fUnreadFolders;
  size_t fNextFolder = 0;  // index in fFolders of the folder to list after the current one
  bool fAtFile = false;    // fListing stands at a file of fFolders[fNextFolder - 1]
  TDirListing fListing;
};

}  // namespace tarvix
