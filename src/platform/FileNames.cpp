#include "platform/FileNames.h"

namespace tarvix {

namespace {

// Position of the last "." that no delimiter follows, or npos.
size_t ExtensionStart(std::string_view name) {
  const size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) return dot;
  return name.find_first_of(kNamePartStops, dot) == std::string_view::npos ? dot
                                                                           : std::string_view::npos;
}

}  // namespace

std::string ExtractFileExt(std::string_view name) {
  size_t start = ExtensionStart(name);
  return start == std::string_view::npos ? std::string() : std::string(name.substr(start));
}

std::string ChangeFileExt(std::string_view name, std::string_view extension) {
  std::string result(name.substr(0, ExtensionStart(name)));
  result += extension;
  return result;
}

std::string ExtractFilePath(std::string_view name) {
  size_t last = name.find_last_of(kNamePartStops);
  return last == std::string_view::npos ? std::string() : std::string(name.substr(0, last + 1));
}

bool EndsInDelimiter(std::string_view path) {
  return !path.empty() && kNamePartStops.find(path.back()) != std::string_view::npos;
}

std::string UpperCaseAscii(std::string_view text) {
  std::string result(text);
  for (char& c : result) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return result;
}

std::string LowerCaseAscii(std::string_view text) {
  std::string result(text);
  for (char& c : result) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return result;
}

std::string_view TrimControlAndBlanks(std::string_view text) {
  auto isTrimmed = [](char c) { return static_cast<unsigned char>(c) <= 32; };
  while (!text.empty() && isTrimmed(text.front())) text.remove_prefix(1);
  while (!text.empty() && isTrimmed(text.back())) text.remove_suffix(1);
  return text;
}

}  // namespace tarvix
