// Aligned memory as each system's C library hands it out; for the platform layer alone.
#pragma once

#include <cstddef>

namespace tarvix {

// `bytes` (a multiple of `alignment`) at an address that is a multiple of `alignment`; nullptr
// when the system has none to give.
void* AllocateAligned(size_t alignment, size_t bytes);
// Frees what AllocateAligned gave; nullptr is allowed.
void FreeAligned(void* memory);

}  // namespace tarvix
