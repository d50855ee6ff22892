#include "platform/FileMemory.h"

#include <sys/mman.h>

#include <cstdlib>
#include <cstring>
#include <new>

namespace tarvix {

namespace {

constexpr size_t kHugePage = size_t{2} << 20;
// Below this the C library's allocator serves; above it the system's pages directly.
constexpr size_t kLargeBytes = size_t{4} << 20;

bool IsLarge(size_t bytes) {
  return bytes >= kLargeBytes;
}

size_t RoundUp(size_t bytes, size_t unit) {
  return (bytes + unit - 1) / unit * unit;
}

// A mapping starting on a huge-page boundary (the head and tail of a larger one are returned),
// marked for huge pages. Anonymous memory is zero until written.
uint8_t* MapLarge(size_t bytes) {
  size_t length = RoundUp(bytes, kHugePage);
  size_t padded = length + kHugePage;
  if (padded < length) return nullptr;
  void* raw = ::mmap(nullptr, padded, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) return nullptr;
  auto start = reinterpret_cast<uintptr_t>(raw);
  uintptr_t aligned = RoundUp(start, kHugePage);
  if (aligned > start) ::munmap(raw, aligned - start);
  size_t tail = (start + padded) - (aligned + length);
  if (tail != 0) ::munmap(reinterpret_cast<void*>(aligned + length), tail);
  ::madvise(reinterpret_cast<void*>(aligned), length, MADV_HUGEPAGE);
  return reinterpret_cast<uint8_t*>(aligned);
}

void UnmapLarge(uint8_t* memory, size_t bytes) {
  ::munmap(memory, RoundUp(bytes, kHugePage));
}

}  // namespace

uint8_t* AllocateFileMemory(size_t bytes) {
  if (bytes == 0) return nullptr;
  void* memory = IsLarge(bytes) ? MapLarge(bytes) : std::calloc(bytes, 1);
  if (memory == nullptr) throw std::bad_alloc();
  return static_cast<uint8_t*>(memory);
}

uint8_t* GrowFileMemory(uint8_t* memory, size_t oldBytes, size_t newBytes) {
  if (memory == nullptr) return AllocateFileMemory(newBytes);
  if (!IsLarge(newBytes)) {
    void* grown = std::realloc(memory, newBytes);
    if (grown == nullptr) throw std::bad_alloc();
    return static_cast<uint8_t*>(grown);
  }
  if (IsLarge(oldBytes)) {
    // Page tables move; the bytes stay where they are in physical memory.
    void* grown = ::mremap(memory, RoundUp(oldBytes, kHugePage), RoundUp(newBytes, kHugePage),
                           MREMAP_MAYMOVE);
    if (grown == MAP_FAILED) throw std::bad_alloc();
    ::madvise(grown, RoundUp(newBytes, kHugePage), MADV_HUGEPAGE);
    return static_cast<uint8_t*>(grown);
  }
  uint8_t* grown = AllocateFileMemory(newBytes);
  std::memcpy(grown, memory, oldBytes);
  std::free(memory);
  return grown;
}

void PrepareForWriting(uint8_t* memory, size_t bytes) {
#ifdef MADV_POPULATE_WRITE
  if (memory == nullptr || !IsLarge(bytes)) return;
  auto start = reinterpret_cast<uintptr_t>(memory);
  uintptr_t end = start + bytes;
  uintptr_t first = RoundUp(start, 4096);
  if (end > first) ::madvise(reinterpret_cast<void*>(first), end - first, MADV_POPULATE_WRITE);
#else
  (void)memory;
  (void)bytes;
#endif
}

void FreeFileMemory(uint8_t* memory, size_t bytes) {
  if (memory == nullptr) return;
  if (IsLarge(bytes)) {
    UnmapLarge(memory, bytes);
  } else {
    std::free(memory);
  }
}

}  // namespace tarvix
