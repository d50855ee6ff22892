#include "platform/SystemMemory.h"

#include <malloc.h>

namespace tarvix {

// The C runtime of Windows has no aligned_alloc: its aligned blocks have their own free.
void* AllocateAligned(size_t alignment, size_t bytes) {
  return ::_aligned_malloc(bytes, alignment);
}

void FreeAligned(void* memory) {
  ::_aligned_free(memory);
}

}  // namespace tarvix
