// Columns of UTF-8 text, checked against the C library's own table, and progress texts
// shortened to a width.
#include "frontend/TextWidth.h"

#include <gtest/gtest.h>
#include <locale.h>
#include <wchar.h>

namespace tarvix {
namespace {

TEST(TextWidth, CodePointsTakeTheColumnsTheCLibrarySays) {
  locale_t utf8 = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
  ASSERT_NE(utf8, static_cast<locale_t>(nullptr));
  locale_t previous = ::uselocale(utf8);
  // Latin, Cyrillic, Hebrew, Arabic and their marks; CJK, kana, Hangul and its jamo; fullwidth
  // forms; emoji; the marks and format characters that take no column.
  const char32_t samples[] = {
      0x61,    0xE9,    0x301,   0x410,   0x5D0,   0x627,   0x64B,   0x670,   0x94D,  0xE31,
      0x1100,  0x1160,  0x1AB0,  0x1DC0,  0x200B,  0x20AC,  0x20D0,  0x2026,  0x231A, 0x26A1,
      0x2705,  0x2E80,  0x3000,  0x303F,  0x3042,  0x3099,  0x30A2,  0x4E00,  0x65E5, 0xA960,
      0xAC00,  0xD7A3,  0xF900,  0xFE0F,  0xFE20,  0xFE30,  0xFEFF,  0xFF21,  0xFF61, 0xFFE0,
      0x1D167, 0x1F3B5, 0x1F44D, 0x1F600, 0x1F9E0, 0x20000, 0x2A6D6, 0xE0100,
  };
  for (char32_t c : samples) {
    SCOPED_TRACE(testing::Message() << std::hex << static_cast<uint32_t>(c));
    EXPECT_EQ(CodePointColumns(c), ::wcwidth(static_cast<wchar_t>(c)));
  }
  ::uselocale(previous);
  ::freelocale(utf8);
}

TEST(TextWidth, TextColumnsCountCharactersNotBytes) {
  const struct {
    std::string text;
    int columns;
  } cases[] = {
      {"", 0},
      {"Kick.wav", 8},
      {"caf\u00e9", 4},
      {"cafe\u0301", 4},               // e and a combining acute: one column
      {"\u65e5\u672c\u8a9e.wav", 10},  // three wide characters
      {"\ud55c\uad6d\uc5b4", 6},
      {"\U0001F941 drum", 7},
      {"\xff\xfe", 2},  // no UTF-8: a replacement each
      {"\xe6\x97", 2},  // a character cut short
      {"\xc0\xaf", 2},  // an overlong form
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(TextColumns(c.text), c.columns);
  }
}

TEST(TextWidth, FitToColumnsElidesTheMiddleOfAPathFirst) {
  const std::string path = "[1 from 1]  Kit/Drums/Close/Legato mic Close RR1.wav...";
  const struct {
    std::string text;
    int columns;
    std::string fitted;
  } cases[] = {
      {path, 55, path},
      {path, 54, "[1 from 1]  Kit/\u2026/Close/Legato mic Close RR1.wav..."},
      {path, 45, "[1 from 1]  Kit/\u2026/Legato mic Close RR1.wav..."},
      // The file name alone no longer fits: the start and the end of the whole text.
      {path, 44, "[1 from 1]  Kit/Drums\u2026o mic Close RR1.wav..."},
      {path, 19, "[1 from 1\u2026R1.wav..."},
      {path, 1, "\u2026"},
      {path, 0, ""},
      {"Kit/a.wav...", 12, "Kit/a.wav..."},
      {"/abcdefghij/k.wav...", 12, "/\u2026/k.wav..."},
      // Wide characters count two, and are never cut in half.
      {"\u65e5\u672c\u8a9e/\u97f3/\u30c9\u30e9\u30e0.wav...", 22,
       "\u65e5\u672c\u8a9e/\u2026/\u30c9\u30e9\u30e0.wav..."},
      {"\u65e5\u672c\u8a9e\u306e\u30d5\u30a1\u30a4\u30eb", 9, "\u65e5\u672c\u2026\u30a4\u30eb"},
      // A combining mark stays with its letter.
      {"e\u0301e\u0301e\u0301e\u0301e\u0301", 4, "e\u0301\u2026e\u0301e\u0301"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text + " in " + std::to_string(c.columns));
    const std::string fitted = FitToColumns(c.text, c.columns);
    EXPECT_EQ(fitted, c.fitted);
    EXPECT_LE(TextColumns(fitted), std::max(c.columns, 0));
  }
}

}  // namespace
}  // namespace tarvix
