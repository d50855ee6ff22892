// Sample containers of 1, 2, 3 or 4 bytes, little-endian, two's complement, no padding: the one
// type the packer, the encoder and the decoder are written over.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "bits/LittleEndian.h"

namespace tarvix {

// The packer's fast paths copy a container's low bytes as they lie in memory.
static_assert(std::endian::native == std::endian::little,
              "containers are copied with plain memory copies");

template <int Bytes>
struct TContainer {
  static_assert(Bytes >= 1 && Bytes <= 4);
  static constexpr int kBytes = Bytes;
  static constexpr int kBits = 8 * Bytes;
  static constexpr uint32_t kMask = kBits == 32 ? 0xFFFFFFFFu : (1u << kBits) - 1;
  // The machine word of a 1-, 2- or 4-byte container.
  using TWord =
      std::conditional_t<Bytes == 1, uint8_t, std::conditional_t<Bytes == 2, uint16_t, uint32_t>>;

  // The container's bits, not sign-extended.
  static uint32_t Load(const uint8_t* p) {
    if constexpr (Bytes == 3) {
      return uint32_t{LoadLE<uint16_t>(p)} | uint32_t{p[2]} << 16;
    } else {
      return LoadLE<TWord>(p);
    }
  }

  // The container's value sign-extended to 32 bits.
  static int32_t LoadSigned(const uint8_t* p) { return SignExtend(Load(p)); }

  // Stores the low kBits of v.
  static void Store(uint8_t* p, uint32_t v) {
    if constexpr (Bytes == 3) {
      StoreLE(p, static_cast<uint16_t>(v));
      p[2] = static_cast<uint8_t>(v >> 16);
    } else {
      StoreLE(p, static_cast<TWord>(v));
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

// Calls `f` with a value of the container type of `bits` (8, 16, 24 or 32) and returns true, or
// returns false for any other width: the one place a sample width turns into a type.
template <class F>
bool ForContainerWidth(unsigned bits, F&& f) {
  switch (bits) {
    case 8:
      f(TSample8{});
      return true;
    case 16:
      f(TSample16{});
      return true;
    case 24:
      f(TSample24{});
      return true;
    case 32:
      f(TSample32{});
      return true;
    default:
      return false;
  }
}

}  // namespace tarvix
