#include "platform/AlignedBuffer.h"

#include <new>

#include "platform/SystemMemory.h"

namespace tarvix {

TAlignedBuffer::~TAlignedBuffer() {
  FreeAligned(fData);
}

void TAlignedBuffer::Release() {
  FreeAligned(fData);
  fData = nullptr;
  fCapacity = 0;
}

void TAlignedBuffer::Reserve(size_t bytes) {
  if (bytes <= fCapacity) return;
  // Whole pages, and a little more than asked so that a slightly larger request later does not
  // start over with fresh memory.
  size_t rounded = (bytes + bytes / 8 + kAlignment - 1) / kAlignment * kAlignment;
  if (rounded < bytes) throw std::bad_alloc();
  void* memory = AllocateAligned(kAlignment, rounded);
  if (memory == nullptr) throw std::bad_alloc();
  FreeAligned(fData);
  fData = static_cast<uint8_t*>(memory);
  fCapacity = rounded;
}

}  // namespace tarvix
