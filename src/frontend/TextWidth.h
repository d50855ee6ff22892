// How many terminal columns text takes, and progress texts shortened to a width: file names
// are UTF-8, where East Asian wide characters take two columns and combining marks none.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tarvix {

// The columns one code point takes on a terminal: 0, 1 or 2.
int CodePointColumns(char32_t codePoint);

// Decodes the UTF-8 sequence at `text[at]`: its code point and byte length. A byte that starts
// no valid sequence is taken alone as U+FFFD, which a terminal shows in one column.
char32_t DecodeUtf8(std::string_view text, size_t at, size_t& length);

// The columns of the whole text (no control characters expected).
int TextColumns(std::string_view text);

// `text` when it takes at most `columns` columns; else the text with a middle part replaced by
// "…" so that it does: the folders between a path's first one and its file name go first
// (Kit/…/Legato mic Close RR1.wav...), and where even that is too wide the middle of the whole
// text. Never cuts inside a character.
std::string FitToColumns(std::string_view text, int columns);

}  // namespace tarvix
