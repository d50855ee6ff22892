#include "batch/FileSearch.h"

#include <algorithm>

#include "platform/Errors.h"
#include "platform/FileNames.h"

namespace tarvix {

TFileSearch::TFileSearch(const std::string& searchSpec, bool recursive) : fRecursive(recursive) {
  const std::string folder = ExtractFilePath(searchSpec);
  fMask = searchSpec.substr(folder.size());
  std::vector<TFileId> path;
  CollectFolders(folder.empty() ? std::string(".") + kPathDelimiter : folder, path);
}

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

bool TFileSearch::MoveToNextFile() {
  while (fListing.Next()) {
    if (!fListing.Current().isDirectory) return true;
  }
  return false;
}

// Opens the listing of the folder at `index` at its first file (not directory); true when it
// has one.
bool TFileSearch::ListFolder(size_t index) {
  const std::string& folder = fFolders[index];
  fListing.Close();
  const TSystemResult read = fListing.Open(folder, fMask);
  // Readable when the tree was walked, no longer now (removed, replaced, its permission taken
  // away): noted as any folder that cannot be read, never taken as empty.
  const bool noted =
      std::any_of(fUnreadFolders.begin(), fUnreadFolders.end(),
                  [&](const TUnreadFolder& unread) { return unread.folder == folder; });
  if (!read.Ok() && !noted) fUnreadFolders.push_back({folder, read.Reason()});
  return fListing.AtEntry() && (!fListing.Current().isDirectory || MoveToNextFile());
}

std::optional<std::string> TFileSearch::Next() {
  fAtFile = fAtFile && MoveToNextFile();
  while (!fAtFile && fNextFolder < fFolders.size()) fAtFile = ListFolder(fNextFolder++);
  if (!fAtFile) {
    fListing.Close();
    return std::nullopt;
  }
  return fFolders[fNextFolder - 1] + fListing.Current().name;
}

}  // namespace tarvix
