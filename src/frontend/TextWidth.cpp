#include "frontend/TextWidth.h"

#include <algorithm>
#include <iterator>
#include <vector>

#include "platform/FileNames.h"

namespace tarvix {

namespace {

struct TRange {
  char32_t first;
  char32_t last;
};

// Marks drawn on the character before them, and characters that take no cell at all.
constexpr TRange kZeroWidth[] = {
    {0x0300, 0x036F},   {0x0483, 0x0489},   {0x0591, 0x05BD},   {0x05BF, 0x05BF},
    {0x05C1, 0x05C2},   {0x05C4, 0x05C5},   {0x05C7, 0x05C7},   {0x0610, 0x061A},
    {0x064B, 0x065F},   {0x0670, 0x0670},   {0x06D6, 0x06DC},   {0x06DF, 0x06E4},
    {0x06E7, 0x06E8},   {0x06EA, 0x06ED},   {0x0711, 0x0711},   {0x0730, 0x074A},
    {0x0900, 0x0902},   {0x093A, 0x093A},   {0x093C, 0x093C},   {0x0941, 0x0948},
    {0x094D, 0x094D},   {0x0951, 0x0957},   {0x0962, 0x0963},   {0x0E31, 0x0E31},
    {0x0E34, 0x0E3A},   {0x0E47, 0x0E4E},   {0x1160, 0x11FF},   {0x1AB0, 0x1AFF},
    {0x1DC0, 0x1DFF},   {0x200B, 0x200F},   {0x202A, 0x202E},   {0x2060, 0x2064},
    {0x20D0, 0x20F0},   {0x302A, 0x302D},   {0x3099, 0x309A},   {0xFE00, 0xFE0F},
    {0xFE20, 0xFE2F},   {0xFEFF, 0xFEFF},   {0x1D167, 0x1D169}, {0x1D17B, 0x1D182},
    {0x1D185, 0x1D18B}, {0x1D1AA, 0x1D1AD}, {0xE0001, 0xE007F}, {0xE0100, 0xE01EF},
};

// East Asian wide and fullwidth characters, emoji presentation included: two cells each.
constexpr TRange kWide[] = {
    {0x1100, 0x115F},   {0x231A, 0x231B},   {0x2329, 0x232A}, {0x23E9, 0x23EC}, {0x23F0, 0x23F0},
    {0x23F3, 0x23F3},   {0x25FD, 0x25FE},   {0x2614, 0x2615}, {0x2648, 0x2653}, {0x267F, 0x267F},
    {0x2693, 0x2693},   {0x26A1, 0x26A1},   {0x26AA, 0x26AB}, {0x26BD, 0x26BE}, {0x26C4, 0x26C5},
    {0x26CE, 0x26CE},   {0x26D4, 0x26D4},   {0x26EA, 0x26EA}, {0x26F2, 0x26F3}, {0x26F5, 0x26F5},
    {0x26FA, 0x26FA},   {0x26FD, 0x26FD},   {0x2705, 0x2705}, {0x270A, 0x270B}, {0x2728, 0x2728},
    {0x274C, 0x274C},   {0x274E, 0x274E},   {0x2753, 0x2755}, {0x2757, 0x2757}, {0x2795, 0x2797},
    {0x27B0, 0x27B0},   {0x27BF, 0x27BF},   {0x2B1B, 0x2B1C}, {0x2B50, 0x2B50}, {0x2B55, 0x2B55},
    {0x2E80, 0x3029},   {0x302E, 0x303E},   {0x3041, 0x3098}, {0x309B, 0x33FF}, {0x3400, 0x4DBF},
    {0x4E00, 0x9FFF},   {0xA000, 0xA4CF},   {0xA960, 0xA97F}, {0xAC00, 0xD7A3}, {0xF900, 0xFAFF},
    {0xFE10, 0xFE19},   {0xFE30, 0xFE6F},   {0xFF00, 0xFF60}, {0xFFE0, 0xFFE6}, {0x1F300, 0x1F64F},
    {0x1F900, 0x1F9FF}, {0x20000, 0x3FFFD},
};

template <size_t N>
bool InRanges(const TRange (&ranges)[N], char32_t c) {
  auto after = std::upper_bound(std::begin(ranges), std::end(ranges), c,
                                [](char32_t value, const TRange& r) { return value < r.first; });
  return after != std::begin(ranges) && c <= (after - 1)->last;
}

constexpr std::string_view kEllipsis = "\u2026";  // one column

// Where each character starts, and its columns; a zero-width mark belongs to the character
// before it, so nothing is cut between them.
struct TCharacter {
  size_t start;
  int columns;
};

std::vector<TCharacter> Characters(std::string_view text) {
  std::vector<TCharacter> characters;
  for (size_t at = 0; at < text.size();) {
    size_t length = 1;
    const int columns = CodePointColumns(DecodeUtf8(text, at, length));
    if (columns == 0 && !characters.empty()) {
      // stays with the character before it
    } else {
      characters.push_back({at, columns});
    }
    at += length;
  }
  return characters;
}

// The longest start of `text` within `columns`.
std::string_view Head(std::string_view text, int columns) {
  int used = 0;
  for (const TCharacter& c : Characters(text)) {
    if (used + c.columns > columns) return text.substr(0, c.start);
    used += c.columns;
  }
  return text;
}

// The longest end of `text` within `columns`.
std::string_view Tail(std::string_view text, int columns) {
  const std::vector<TCharacter> characters = Characters(text);
  int used = 0;
  size_t start = text.size();
  for (auto c = characters.rbegin(); c != characters.rend(); ++c) {
    if (used + c->columns > columns) break;
    used += c->columns;
    start = c->start;
  }
  return text.substr(start);
}

}  // namespace

int CodePointColumns(char32_t c) {
  if (c < 0x300) return 1;
  if (InRanges(kZeroWidth, c)) return 0;
  return InRanges(kWide, c) ? 2 : 1;
}

char32_t DecodeUtf8(std::string_view text, size_t at, size_t& length) {
  constexpr char32_t kReplacement = 0xFFFD;
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  length = 1;
  size_t extra = 0;
  char32_t c = 0;
  if (lead < 0x80) return lead;
  if (lead >= 0xC2 && lead <= 0xDF) {
    extra = 1;
    c = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    extra = 2;
    c = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    extra = 3;
    c = lead & 0x07;
  } else {
    return kReplacement;
  }
  if (at + extra >= text.size()) return kReplacement;
  for (size_t i = 1; i <= extra; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return kReplacement;
    c = c << 6 | (byte(at + i) & 0x3F);
  }
  // Overlong forms, surrogates and values past Unicode are no characters.
  static constexpr char32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
  if (c < kSmallest[extra] || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) return kReplacement;
  length = extra + 1;
  return c;
}

int TextColumns(std::string_view text) {
  int columns = 0;
  for (size_t at = 0; at < text.size();) {
    size_t length = 1;
    columns += CodePointColumns(DecodeUtf8(text, at, length));
    at += length;
  }
  return columns;
}

std::string FitToColumns(std::string_view text, int columns) {
  if (TextColumns(text) <= columns) return std::string(text);
  if (columns < 1) return {};
  const int kept = columns - TextColumns(kEllipsis);
  // A path: its first folder, then as many of its last parts as fit, file name first.
  const size_t first = text.find_first_of(kPathDelimiters);
  const size_t last = text.find_last_of(kPathDelimiters);
  if (first != std::string_view::npos && first < last) {
    const std::string_view head = text.substr(0, first + 1);
    const int room = kept - TextColumns(head);
    size_t tail = last;
    if (TextColumns(text.substr(tail)) <= room) {
      for (size_t before = text.find_last_of(kPathDelimiters, tail - 1); before > first;
           before = text.find_last_of(kPathDelimiters, tail - 1)) {
        if (TextColumns(text.substr(before)) > room) break;
        tail = before;
      }
      return std::string(head).append(kEllipsis).append(text.substr(tail));
    }
  }
  // Otherwise the start and the end of the whole text, the end the longer.
  const std::string_view start = Head(text, kept / 2);
  const std::string_view end = Tail(text, kept - TextColumns(start));
  return std::string(start).append(kEllipsis).append(end);
}

}  // namespace tarvix
