// How names are spelled on POSIX systems; included through FileNames.h only.
#pragma once

#include <string_view>

namespace tarvix {

// The delimiter the program writes between folders.
constexpr char kPathDelimiter = '/';
// Every character that ends a folder's part of a name.
constexpr std::string_view kPathDelimiters = "/";
// Every character after which a name's last part begins: the delimiters, and on systems with
// drive letters the colon of "D:name".
constexpr std::string_view kNamePartStops = "/";

}  // namespace tarvix
