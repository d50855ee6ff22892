#include "platform/DirectoryListing.h"

namespace tarvix {

namespace {

char FoldCase(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool IsUtf8Continuation(char c) {
  return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// Length of the character starting at name[i]: one byte, or a whole UTF-8 sequence so that "?"
// stands for one letter.
size_t CharacterLength(std::string_view name, size_t i) {
  size_t n = 1;
  while (i + n < name.size() && IsUtf8Continuation(name[i + n])) ++n;
  return n;
}

bool GlobMatch(std::string_view name, std::string_view mask) {
  size_t n = 0, m = 0;
  size_t starMask = std::string_view::npos, starName = 0;
  while (n < name.size()) {
    if (m < mask.size() && mask[m] == '*') {
      starMask = m++;
      starName = n;
    } else if (m < mask.size() && mask[m] == '?') {
      n += CharacterLength(name, n);
      ++m;
    } else if (m < mask.size() && FoldCase(mask[m]) == FoldCase(name[n])) {
      ++n;
      ++m;
    } else if (starMask != std::string_view::npos) {
      // Let the last "*" swallow one more character and retry from there.
      starName += CharacterLength(name, starName);
      n = starName;
      m = starMask + 1;
    } else {
      return false;
    }
  }
  while (m < mask.size() && mask[m] == '*') ++m;
  return m == mask.size();
}

}  // namespace

bool MatchesMask(std::string_view name, std::string_view mask) {
  if (GlobMatch(name, mask)) return true;
  if (mask.size() >= 2 && mask.substr(mask.size() - 2) == ".*" &&
      name.find('.') == std::string_view::npos) {
    return GlobMatch(name, mask.substr(0, mask.size() - 2));
  }
  return false;
}

bool TDirListing::Next() {
  if (fIndex + 1 >= fEntries.size()) return false;
  ++fIndex;
  return true;
}

void TDirListing::Close() {
  fEntries.clear();
  fIndex = 0;
}

}  // namespace tarvix
