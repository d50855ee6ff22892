// Rules for the parts of a file name: directory, extension.
#pragma once

#include <string>
#include <string_view>

#include "SystemPathSyntax.h"  // each system's delimiters: kPathDelimiter, kPathDelimiters

namespace tarvix {

// True for a character that ends a folder's part of a name.
constexpr bool IsPathDelimiter(char c) {
  return kPathDelimiters.find(c) != std::string_view::npos;
}

// True when a folder's name can be followed by a file name as it stands: it ends in a
// delimiter, or it is a drive alone ("D:").
bool EndsInDelimiter(std::string_view path);

// The extension: from the last "." to the end, provided no path delimiter follows that dot;
// empty when there is none. "dir.x/name" has no extension.
std::string ExtractFileExt(std::string_view name);

// The name with its extension (if any) replaced by `extension`.
std::string ChangeFileExt(std::string_view name, std::string_view extension);

// Everything up to and including the last path delimiter; empty when there is none.
std::string ExtractFilePath(std::string_view name);

// ASCII letters in upper or lower case; other bytes unchanged.
std::string UpperCaseAscii(std::string_view text);
std::string LowerCaseAscii(std::string_view text);

// Removes the characters whose codes are 32 or less from both ends.
std::string_view TrimControlAndBlanks(std::string_view text);

}  // namespace tarvix
