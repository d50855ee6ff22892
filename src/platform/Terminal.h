// The program's standard streams as the console writes them: whether one is a terminal, how
// wide it is, and writing to it whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/FileHandle.h"

namespace tarvix {

// The program's arguments as UTF-8, without the program's name. On Windows they are taken from
// the wide command line, whatever the code page; elsewhere they are `argv` as it is.
std::vector<std::string> ProgramArguments(int argc, char** argv);

// True when `stream` is a terminal (a console).
bool IsTerminal(TFileHandle stream);

// The terminal's width in columns, or 0 when it does not say.
int TerminalColumns(TFileHandle stream);

// Writes all `size` bytes of UTF-8 to `stream`, going on after interruptions; false when the
// stream stopped taking them (a console that cannot be written must not stop the conversions).
// A Windows console is given the text as Unicode; every other stream gets the bytes.
bool WriteAll(TFileHandle stream, const char* data, size_t size);

// Moves a terminal's cursor `rowsUp` rows up (down when negative) and to column `column`
// (0-based) of that row. With control sequences where the terminal takes them; through the
// console's own calls on a Windows console.
void MoveTerminalCursor(TFileHandle stream, int64_t rowsUp, int column);

}  // namespace tarvix
