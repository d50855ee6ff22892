// An open file as the system knows it, carried through the layers above without their knowing
// what it is: a descriptor on POSIX systems, a HANDLE on Windows.
#pragma once

#include <cstdint>

namespace tarvix {

using TFileHandle = std::intptr_t;
constexpr TFileHandle kNoFileHandle = -1;

// The process's standard streams.
TFileHandle StandardInput();
TFileHandle StandardOutput();
TFileHandle StandardError();

}  // namespace tarvix
