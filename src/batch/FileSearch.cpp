#include "batch/FileSearch.h"

#include <sys/stat.h>

#include <algorithm>

#include "platform/FileNames.h"
#include "platform/FileSystem.h"

namespace tarvix {

// Appends `folder` and, depth first, every folder below it. A folder that is already on the
// path from the root (reached again through a link) is not entered, so a loop of links ends.
// Names are taken as they are: on this system a folder's name may begin or end with blanks.
void TFileSearch::CollectFolders(const std::string& folder, std::vector<TFolderId>& path) {
  std::string dir = folder;
  if (dir.empty() || dir.back() != kPathDelimiter) dir += kPathDelimiter;
  fFolders.push_back(dir);
  if (!fRecursive) return;  // only the root is ever listed then
  TDirListing listing;
  if (!listing.Open(dir, "*.*")) return;
  struct stat info;
  if (::stat(dir.c_str(), &info) != 0) return;
  path.emplace_back(info.st_dev, info.st_ino);
  do {
    const TDirEntry& entry = listing.Current();
    if (!entry.isDirectory) continue;
    std::string child = dir + entry.name + kPathDelimiter;
    if (::stat(child.c_str(), &info) != 0) continue;
    if (std::find(path.begin(), path.end(), TFolderId(info.st_dev, info.st_ino)) != path.end()) {
      continue;
    }
    CollectFolders(child, path);
  } while (listing.Next());
  path.pop_back();
}

void TFileSearch::InitSearch(const std::string& searchSpec) {
  fSearchRec.Close();
  fSearchSpec = searchSpec;
  std::string folder = ExtractFilePath(searchSpec);
  fCurDir = folder.empty() ? std::string(".") + kPathDelimiter : folder;
  fMask = searchSpec.substr(folder.size());
  fFolders.clear();
  std::vector<TFolderId> path;
  CollectFolders(fCurDir, path);
  fFolderIndex = 0;
  fIsFirstSearch = true;
}

bool TFileSearch::OpenFirstFile() {
  if (!fSearchRec.Open(fCurDir, fMask)) return false;
  if (!fSearchRec.Current().isDirectory) return true;
  return MoveToNextFile();
}

bool TFileSearch::MoveToNextFile() {
  while (fSearchRec.Next()) {
    if (!fSearchRec.Current().isDirectory) return true;
  }
  return false;
}

// Lists the folder at fFolderIndex; true when it holds a matching file.
bool TFileSearch::ListFolderAtIndex() {
  fCurDir = fFolders[static_cast<size_t>(fFolderIndex)];
  fSearchRec.Close();
  if (!OpenFirstFile()) return false;
  fFoundFile = fCurDir + fSearchRec.Current().name;
  fIsFirstSearch = false;
  return true;
}

bool TFileSearch::GetNextFile() {
  if (fFolders.empty()) return false;
  const auto folderCount = static_cast<int32_t>(fFolders.size());
  if (fIsFirstSearch) {
    while (fFolderIndex < folderCount) {
      if (ListFolderAtIndex()) return true;
      if (!fRecursive) break;
      ++fFolderIndex;
    }
    return false;
  }
  if (MoveToNextFile()) {
    fFoundFile = fCurDir + fSearchRec.Current().name;
    return true;
  }
  if (fRecursive) {
    for (++fFolderIndex; fFolderIndex < folderCount; ++fFolderIndex) {
      if (ListFolderAtIndex()) return true;
    }
  }
  fSearchRec.Close();
  fFoundFile.clear();
  fIsFirstSearch = true;
  fFolderIndex = folderCount;  // a further call finds nothing until the next InitSearch
  return false;
}

}  // namespace tarvix
