#include "platform/FileSystem.h"

#include <cstdint>
#include <random>

#include "platform/FileNames.h"
#include "platform/FileStream.h"

namespace tarvix {

std::string AddTrailingDelimiter(const std::string& path) {
  if (EndsInDelimiter(path)) return path;
  return path + kPathDelimiter;
}

std::string RandomTempName(const std::string& dir) {
  // Random letters as mkstemp uses them.
  static constexpr char kLetters[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  thread_local std::mt19937_64 random(std::random_device{}());
  std::string name = dir + "tarvix-";
  uint64_t bits = random();
  for (int i = 0; i < 6; ++i, bits /= 62) name += kLetters[bits % 62];
  return name + ".tmp";
}

std::vector<std::string> SplitTextLines(std::string_view text) {
  std::vector<std::string> lines;
  // Editors on other systems often save UTF-8 with a byte-order mark; it is no part of the text.
  constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";
  if (text.starts_with(kUtf8ByteOrderMark)) text.remove_prefix(kUtf8ByteOrderMark.size());
  size_t end = text.find('\0');
  if (end != std::string_view::npos) text = text.substr(0, end);
  size_t start = 0;
  while (start < text.size()) {
    size_t lineEnd = text.find_first_of("\r\n", start);
    if (lineEnd == std::string_view::npos) {
      lines.emplace_back(text.substr(start));
      break;
    }
    lines.emplace_back(text.substr(start, lineEnd - start));
    start = lineEnd + 1;
    if (text[lineEnd] == '\r' && start < text.size() && text[start] == '\n') ++start;
  }
  return lines;
}

std::vector<std::string> ReadTextFileLines(const std::string& name) {
  TFileSource file(name);
  std::string text(file.Size(), '\0');
  text.resize(file.Read(text.data(), text.size()));
  return SplitTextLines(text);
}

}  // namespace tarvix
