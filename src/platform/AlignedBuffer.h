// Reusable page-aligned memory for reads and writes: the kernel copies to and from a buffer
// that is not 64-byte aligned at about half the speed. The content is not cleared, because
// every byte is written before it is read, and touching fresh memory is what costs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

namespace tarvix {

class TAlignedBuffer {
 public:
  static constexpr size_t kAlignment = 4096;

  TAlignedBuffer() = default;
  ~TAlignedBuffer();
  TAlignedBuffer(const TAlignedBuffer&) = delete;
  TAlignedBuffer& operator=(const TAlignedBuffer&) = delete;
  TAlignedBuffer(TAlignedBuffer&& other) noexcept { Swap(other); }
  TAlignedBuffer& operator=(TAlignedBuffer&& other) noexcept {
    Swap(other);
    return *this;
  }

  // Makes room for at least `bytes`, keeping the memory (but not the content) when it is large
  // enough already. Raises std::bad_alloc.
  void Reserve(size_t bytes);
  // Hands the memory back.
  void Release();
  // Exchanges the memory of the two buffers.
  void Swap(TAlignedBuffer& other) noexcept {
    std::swap(fData, other.fData);
    std::swap(fCapacity, other.fCapacity);
  }

  uint8_t* Data() const { return fData; }
  size_t Capacity() const { return fCapacity; }

 private:
  uint8_t* fData = nullptr;
  size_t fCapacity = 0;
};

}  // namespace tarvix
