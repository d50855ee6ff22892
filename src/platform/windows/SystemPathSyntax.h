// How names are spelled on Windows; included through FileNames.h only.
#pragma once

#include <string_view>

namespace tarvix {

// The delimiter the program writes between folders.
constexpr char kPathDelimiter = '\\';
// Every character that ends a folder's part of a name: Windows takes both.
constexpr std::string_view kPathDelimiters = "\\/";
// Every character after which a name's last part begins: the delimiters, and the colon of a
// drive ("D:KICK.NCW" is KICK.NCW in D:'s current folder).
constexpr std::string_view kNamePartStops = "\\/:";

}  // namespace tarvix
