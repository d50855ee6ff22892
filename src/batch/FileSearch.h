// TFileSearch: the files whose names match a mask in one folder and, when recursive, in every
// folder below it, one per call. The folder tree is walked once by InitSearch (depth first,
// each folder before the folders below it); the files of each folder are listed only when the
// enumeration reaches it. Nothing here prints or raises: a folder that cannot be read yields
// no files, and the walk notes it with the system's reason for the owner to report.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/DirectoryListing.h"
#include "platform/FileSystem.h"

namespace tarvix {

struct TUnreadFolder {
  std::string folder;  // as in fFolders, with a trailing delimiter
  std::string reason;  // the system's
};

class TFileSearch {
 public:
  TFileSearch() = default;
  virtual ~TFileSearch() = default;

  // Takes a folder path followed by a mask, such as "In/*.wav"; without a folder part the
  // current directory is searched.
  void InitSearch(const std::string& searchSpec);
  // True when a further file was found; its path is then in fFoundFile.
  bool GetNextFile();

  bool fIsFirstSearch = true;         // no listing open; the next call starts one
  TDirListing fSearchRec;             // the open listing of fCurDir
  std::string fSearchSpec;            // as passed to InitSearch
  std::string fCurDir;                // the folder being listed, with a trailing delimiter
  std::string fMask;                  // the file-name part of fSearchSpec, e.g. "*.ncw"
  int32_t fFolderIndex = 0;           // index in fFolders of the folder being listed
  std::string fFoundFile;             // the file the last true result found
  bool fRecursive = true;             // set by the owner before InitSearch
  std::vector<std::string> fFolders;  // the folders to list, in depth-first pre-order
  // The folders InitSearch found it could not read, in the same order: their files and the
  // folders below them are not searched. Then those that could no longer be read when their
  // files were to be listed, as the enumeration meets them.
  std::vector<TUnreadFolder> fUnreadFolders;

 private:
  void CollectFolders(const std::string& folder, std::vector<TFileId>& path);
  // Opens the listing of fCurDir at its first file (not directory); `found` tells whether
  // there is one.
  TSystemResult OpenFirstFile(bool& found);
  bool MoveToNextFile();
  bool ListFolderAtIndex();
};

}  // namespace tarvix
