#include "batch/FileSearch.h"

#include <algorithm>

#include "platform/Errors.h"
#include "platform/FileNames.h"

namespace tarvix {

// Appends `folder` and, depth first, every folder below it. A folder that is already on the
// path from the root (reached again through a link) is not entered, so a loop of links ends.
// Names are taken as they are: on this system a folder's name may begin or end with blanks.
void TFileSearch::CollectFolders(const std::string& folder, std::vector<TFileId>& path) {
  std::string dir = folder;
  if (!EndsInDelimiter(dir)) dir += kPathDelimiter;
  fFolders.push_back(dir);
  // Without recursion only the root is listed, for its files; it is read here all the same, so
  // that a root that cannot be read is told like any other folder.
  TDirListing listing;
  const TSystemResult read = listing.Open(dir, fRecursive ? "*.*" : "");
  if (!read.Ok()) fUnreadFolders.push_back({dir, read.Reason()});
  if (!listing.AtEntry() || !fRecursive) return;
  TFileId id;
  if (!IdentifyFile(dir, id).Ok()) return;
  path.push_back(id);
  do {
    const TDirEntry& entry = listing.Current();
    if (!entry.isDirectory) continue;
    std::string child = dir + entry.name + kPathDelimiter;
    if (const TSystemResult identified = IdentifyFile(child, id); !identified.Ok()) {
      // Listed, but not to be entered: the folder it lies in may be read and not searched.
      fUnreadFolders.push_back({child, identified.Reason()});
      continue;
    }
    if (std::find(path.begin(), path.end(), id) != path.end()) continue;
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
  fUnreadFolders.clear();
  std::vector<TFileId> path;
  CollectFolders(fCurDir, path);
  fFolderIndex = 0;
  fIsFirstSearch = true;
}

TSystemResult TFileSearch::OpenFirstFile(bool& found) {
  const TSystemResult read = fSearchRec.Open(fCurDir, fMask);
  found = fSearchRec.AtEntry() && (!fSearchRec.Current().isDirectory || MoveToNextFile());
  return read;
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
  bool found = false;
  const TSystemResult read = OpenFirstFile(found);
  // Readable when the tree was walked, no longer now (removed, replaced, its permission taken
  // away): noted as any folder that cannot be read, never taken as empty.
  const bool noted =
      std::any_of(fUnreadFolders.begin(), fUnreadFolders.end(),
                  [&](const TUnreadFolder& unread) { return unread.folder == fCurDir; });
  if (!read.Ok() && !noted) fUnreadFolders.push_back({fCurDir, read.Reason()});
  if (!found) return false;
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
