// Sample containers of 1, 2, 3 or 4 bytes, little-endian, two's complement, no padding: the one
// type the packer, the encoder and the decoder are written over.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <type_traits>

#include "platform/FileMemory.h"

namespace tarvix {

static_assert(std::endian::native == std::endian::little,
              "containers are loaded with plain memory copies");

template <int Bytes>
struct TContainer {
  static_assert(Bytes >= 1 && Bytes <= 4);
  static constexpr int kBytes = Bytes;
  static constexpr int kBits = 8 * Bytes;
  static constexpr uint32_t kMask = kBits == 32 ? 0xFFFFFFFFu : (1u << kBits) - 1;

  // The container's bits, not sign-extended.
  static uint32_t Load(const uint8_t* p) {
    if constexpr (Bytes == 3) {
      return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16;
    } else {
      std::conditional_t<Bytes == 1, uint8_t, std::conditional_t<Bytes == 2, uint16_t, uint32_t>> v;
      std::memcpy(&v, p, Bytes);
      return v;
    }
  }

  // The container's value sign-extended to 32 bits.
  static int32_t LoadSigned(const uint8_t* p) { return SignExtend(Load(p)); }

  // Stores the low kBits of v.
  static void Store(uint8_t* p, uint32_t v) {
    if constexpr (Bytes == 3) {
      p[0] = static_cast<uint8_t>(v);
      p[1] = static_cast<uint8_t>(v >> 8);
      p[2] = static_cast<uint8_t>(v >> 16);
    } else {
      std::memcpy(p, &v, Bytes);  // little-endian: the low bytes come first
    }
  }

  // Bits above the container width are dropped, then bit kBits - 1 is the sign.
  static int32_t SignExtend(uint32_t v) {
    constexpr int kShift = 32 - kBits;
    return static_cast<int32_t>(v << kShift) >> kShift;  // arithmetic shift since C++20
  }
};

// The container widths there are sample arrays for.
constexpr bool IsContainerWidth(unsigned bits) {
  return bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

using TSample8 = TContainer<1>;
using TSample16 = TContainer<2>;
using TSample24 = TContainer<3>;
using TSample32 = TContainer<4>;

// An array of samples in one container width, interleaved by frame. New elements read as
// zero; large arrays come from the system already zeroed, on huge pages, so no pass is spent
// clearing memory that a read will fill anyway.
template <class C>
class TSampleArray {
 public:
  // Replaces the content by `length` zero samples. Raises std::bad_alloc.
  void SetLength(size_t length) {
    Release();
    if (length > std::numeric_limits<size_t>::max() / C::kBytes) throw std::bad_alloc();
    fMemory = TFileMemory(length * C::kBytes);
    fLength = length;
  }
  // Makes the array stand for `length` samples at `data`, read-only memory that the caller
  // keeps alive for as long as the array is used (a mapped file, read without a copy). Only
  // the const accessors may be used then.
  void SetView(const uint8_t* data, size_t length) {
    Release();
    fView = data;
    fLength = length;
  }
  void Release() {
    fMemory = TFileMemory();
    fView = nullptr;
    fLength = 0;
  }

  size_t Length() const { return fLength; }
  size_t ByteSize() const { return fLength * C::kBytes; }
  uint8_t* Bytes() { return fMemory.Data(); }  // owned samples only
  const uint8_t* Bytes() const { return fView != nullptr ? fView : fMemory.Data(); }

 private:
  TFileMemory fMemory;             // the samples, unless the array is a view
  const uint8_t* fView = nullptr;  // someone else's samples
  size_t fLength = 0;              // in samples
};

}  // namespace tarvix
