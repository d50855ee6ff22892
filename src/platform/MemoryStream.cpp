#include "platform/MemoryStream.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace tarvix {

TMemoryStream::~TMemoryStream() { std::free(fData); }

bool TMemoryStream::Grow(size_t capacity) {
  // realloc moves large blocks by remapping pages, not by copying them.
  void* grown = std::realloc(fData, capacity);
  if (grown == nullptr) return false;
  fData = static_cast<uint8_t*>(grown);
  fCapacity = capacity;
  return true;
}

void TMemoryStream::TryReserve(size_t capacity) {
  if (capacity > fCapacity) Grow(capacity);
}

uint8_t* TMemoryStream::Extend(size_t count) {
  if (count > fCapacity - fSize) {
    size_t needed = fSize + count;
    if (needed < fSize) throw std::bad_alloc();
    size_t larger = fCapacity + fCapacity / 2;
    if (!Grow(larger > needed ? larger : needed) && !Grow(needed)) throw std::bad_alloc();
  }
  uint8_t* tail = fData + fSize;
  fSize += count;
  return tail;
}

void TMemoryStream::Append(const void* data, size_t count) {
  if (count == 0) return;
  std::memcpy(Extend(count), data, count);
}

}  // namespace tarvix
