#include "platform/MemoryStream.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace tarvix {

namespace {

// The stream's pages are faulted in this much at a time, ahead of the bytes that fill them.
constexpr size_t kPrepareStep = size_t{32} << 20;

}  // namespace

void TMemoryStream::TryReserve(size_t capacity) {
  if (capacity <= fMemory.Size()) return;
  try {
    fMemory.Grow(capacity);
  } catch (const std::bad_alloc&) {
    // Not in one piece, then: the stream grows as bytes arrive.
  }
}

uint8_t* TMemoryStream::Extend(size_t count) {
  if (count > fMemory.Size() - fSize) {
    size_t needed = fSize + count;
    if (needed < fSize) throw std::bad_alloc();
    size_t larger = fMemory.Size() + fMemory.Size() / 2;
    try {
      fMemory.Grow(larger > needed ? larger : needed);
    } catch (const std::bad_alloc&) {
      fMemory.Grow(needed);
    }
    // Remapped pages stay faulted in, but a block copied elsewhere has only its content's.
    fPrepared = std::min(fPrepared, fSize);
  }
  uint8_t* tail = fMemory.Data() + fSize;
  fSize += count;
  if (fSize > fPrepared && fMemory.Size() > fPrepared) {
    size_t step = std::min(std::max(kPrepareStep, fSize - fPrepared), fMemory.Size() - fPrepared);
    PrepareForWriting(fMemory.Data() + fPrepared, step);
    fPrepared += step;
  }
  return tail;
}

void TMemoryStream::Append(const void* data, size_t count) {
  if (count == 0) return;
  std::memcpy(Extend(count), data, count);
}

}  // namespace tarvix
