// Listing the entries of one folder that match a wildcard mask.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/Errors.h"

namespace tarvix {

// Wildcard match: "*" stands for any run of characters, "?" for one character; letter case is
// ignored (ASCII letters). A mask ending in ".*" also matches names without a dot, so "*.*"
// matches every name.
bool MatchesMask(std::string_view name, std::string_view mask);

struct TDirEntry {
  std::string name;
  bool isDirectory = false;  // after following a link
};

// One open listing, delivered in name order so that runs are repeatable. Hidden entries are
// included; "." and ".." are not.
class TDirListing {
 public:
  // Lists `dir` (with or without a trailing delimiter): done, or why it could not be read (what
  // was listed before a read failed is kept). AtEntry() tells whether an entry matched `mask`;
  // Current() is then the first.
  TSystemResult Open(const std::string& dir, std::string_view mask);
  bool AtEntry() const { return fIndex < fEntries.size(); }
  // Moves to the next matching entry; false when there is none.
  bool Next();
  const TDirEntry& Current() const { return fEntries[fIndex]; }
  void Close();

 private:
  std::vector<TDirEntry> fEntries;
  size_t fIndex = 0;
};

}  // namespace tarvix
