#include "platform/SystemMemory.h"

#include <cstdlib>

namespace tarvix {

void* AllocateAligned(size_t alignment, size_t bytes) {
  return std::aligned_alloc(alignment, bytes);
}

void FreeAligned(void* memory) {
  std::free(memory);
}

}  // namespace tarvix
