// Memory for whole files: zero-filled, and for large sizes taken straight from the system on
// huge pages. Filling a freshly allocated gigabyte page by page costs a quarter of a million
// page faults; on huge pages it costs a few hundred.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>

namespace tarvix {

// `bytes` of zeros. Raises std::bad_alloc.
uint8_t* AllocateFileMemory(size_t bytes);

// Moves the content into a block of `newBytes` (larger); the added bytes are unspecified.
// Raises std::bad_alloc, leaving the old block as it was.
uint8_t* GrowFileMemory(uint8_t* memory, size_t oldBytes, size_t newBytes);

// Frees a block of `bytes` from the functions above; null is ignored.
void FreeFileMemory(uint8_t* memory, size_t bytes);

// Faults in the pages of `bytes` at `memory` (from AllocateFileMemory) in one call, ahead of
// writing them all: much cheaper than one fault per page. Only a hint; nothing is reported.
void PrepareForWriting(uint8_t* memory, size_t bytes);

// An allocator for containers that may grow as large as a file's block table: the same memory
// as above, so a large one costs a few faults, not one per page.
template <class T>
struct TFileAllocator {
  using value_type = T;
  TFileAllocator() = default;
  template <class U>
  TFileAllocator(const TFileAllocator<U>&) noexcept {}
  T* allocate(size_t n) {
    if (n > SIZE_MAX / sizeof(T)) throw std::bad_alloc();
    return reinterpret_cast<T*>(AllocateFileMemory(n * sizeof(T)));
  }
  void deallocate(T* p, size_t n) noexcept {
    FreeFileMemory(reinterpret_cast<uint8_t*>(p), n * sizeof(T));
  }
  template <class U>
  bool operator==(const TFileAllocator<U>&) const noexcept {
    return true;
  }
};

// Owns one such block.
class TFileMemory {
 public:
  TFileMemory() = default;
  explicit TFileMemory(size_t bytes) : fData(AllocateFileMemory(bytes)), fSize(bytes) {}
  ~TFileMemory() { FreeFileMemory(fData, fSize); }
  TFileMemory(TFileMemory&& other) noexcept : fData(other.fData), fSize(other.fSize) {
    other.fData = nullptr;
    other.fSize = 0;
  }
  TFileMemory& operator=(TFileMemory&& other) noexcept {
    if (this != &other) {
      FreeFileMemory(fData, fSize);
      fData = other.fData;
      fSize = other.fSize;
      other.fData = nullptr;
      other.fSize = 0;
    }
    return *this;
  }

  // Keeps the content; raises std::bad_alloc and leaves the block as it was.
  void Grow(size_t bytes) {
    fData = GrowFileMemory(fData, fSize, bytes);
    fSize = bytes;
  }

  uint8_t* Data() const { return fData; }
  size_t Size() const { return fSize; }

 private:
  uint8_t* fData = nullptr;
  size_t fSize = 0;
};

}  // namespace tarvix
