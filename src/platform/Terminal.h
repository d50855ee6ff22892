// The program's standard streams as the console writes them: whether one is a terminal, how
// wide it is, and writing to it whole.
#pragma once

#include <cstddef>

namespace tarvix {

// The descriptors of standard output and standard error.
int StandardOutput();
int StandardError();

// True when `fd` is a terminal.
bool IsTerminal(int fd);

// The terminal's width in columns, or 0 when it does not say.
int TerminalColumns(int fd);

// Writes all `size` bytes to `fd`, going on after interruptions; false when the stream stopped
// taking them (a console that cannot be written must not stop the conversions).
bool WriteAll(int fd, const char* data, size_t size);

}  // namespace tarvix
