// Little-endian integers in byte buffers: the one way file formats and packed streams are read
// and written, whatever the host does with its own integers.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace tarvix {

// The integer of sizeof(T) bytes at `p`, least significant byte first.
template <class T>
T LoadLE(const uint8_t* p) {
  static_assert(std::is_integral_v<T>);
  using U = std::make_unsigned_t<T>;
  U v = 0;
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(&v, p, sizeof v);  // one load; no alignment needed
  } else {
    for (size_t i = 0; i < sizeof(T); ++i) v = static_cast<U>(v | U{p[i]} << (8 * i));
  }
  return static_cast<T>(v);  // two's complement: the bits are the value
}

// Stores the sizeof(T) bytes of `value` at `p`, least significant byte first.
template <class T>
void StoreLE(uint8_t* p, T value) {
  static_assert(std::is_integral_v<T>);
  auto v = static_cast<std::make_unsigned_t<T>>(value);
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(p, &v, sizeof v);
  } else {
    for (size_t i = 0; i < sizeof(T); ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
  }
}

}  // namespace tarvix
