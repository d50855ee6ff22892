#include "wav/WavNote.h"

#include <cstdio>
#include <vector>

namespace tarvix {

namespace {

std::string Hex(uint32_t value, const char* format) {
  char text[16];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

std::string Joined(const std::vector<std::string>& parts) {
  std::string joined;
  for (const std::string& part : parts) joined += (joined.empty() ? "" : ", ") + part;
  return joined;
}

std::string ChunkList(const TWavExtras& extras) {
  std::vector<std::string> ids;
  for (const TChunkIdBytes& id : extras.chunkIds) ids.push_back(ShownChunkId(id));
  if (extras.moreChunkIds) ids.push_back("...");
  return Joined(ids) + (ids.size() == 1 ? " chunk" : " chunks");
}

}  // namespace

std::string ShownChunkId(const TChunkIdBytes& id) {
  size_t length = id.size();
  while (length > 0 && id[length - 1] == ' ') --length;
  if (length == 0) length = id.size();  // all blanks: shown in full, escaped
  std::string shown;
  for (size_t i = 0; i < length; ++i) {
    const auto c = static_cast<unsigned char>(id[i]);
    const bool plain = c > 0x20 && c < 0x7F && c != '\\' && c != ',';
    shown += plain ? std::string(1, static_cast<char>(c)) : Hex(c, "\\x%02X");
  }
  return shown;
}

std::string WavNoteLine(const std::string& source, const TWavExtras& extras) {
  std::vector<std::string> lost;
  if (extras.validBits != 0) {
    lost.push_back(std::to_string(extras.validBits) + " valid bits in " +
                   std::to_string(extras.containerBits) + "-bit containers");
  }
  if (extras.channelMask != 0) lost.push_back("speaker mask " + Hex(extras.channelMask, "0x%X"));
  if (!extras.chunkIds.empty()) lost.push_back(ChunkList(extras));
  if (lost.empty()) return {};
  return "  note: '" + source + "' has " + Joined(lost) + "; NCW keeps the samples only";
}

}  // namespace tarvix
