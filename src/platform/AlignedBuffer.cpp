#include "platform/AlignedBuffer.h"

#include <cstdlib>
#include <new>

namespace tarvix {

TAlignedBuffer::~TAlignedBuffer() {
  std::free(fData);
}

void TAlignedBuffer::Release() {
  std::free(fData);
  fData = nullptr;
  fCapacity = 0;
}

void TAlignedBuffer::Reserve(size_t bytes) {
  if (bytes <= fCapacity) return;
  // Whole pages, and a little more than asked so that a slightly larger request later does not
  // start over with fresh memory.
  size_t rounded = (bytes + bytes / 8 + kAlignment - 1) / kAlignment * kAlignment;
  if (rounded < bytes) throw std::bad_alloc();
  void* memory = std::aligned_alloc(kAlignment, rounded);
  if (memory == nullptr) throw std::bad_alloc();
  std::free(fData);
  fData = static_cast<uint8_t*>(memory);
  fCapacity = rounded;
}

}  // namespace tarvix
