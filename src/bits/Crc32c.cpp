// CRC-32C, compiled once for every instruction set Highway targets: the x86 targets from SSE4 up
// carry the crc32 instruction (8 bytes a step), the others use the table of eight slices.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "bits/Crc32c.cpp"
#include <hwy/foreach_target.h>  // includes this file again once per target
#include <hwy/highway.h>

#include <array>
#include <cstring>

#include "bits/Crc32c.h"
#include "bits/LittleEndian.h"

#ifndef TARVIX_BITS_CRC32C_SHARED
#define TARVIX_BITS_CRC32C_SHARED
namespace tarvix {
namespace {

constexpr uint32_t kReflectedPolynomial = 0x82F63B78;

// Slice s holds the CRC of a byte followed by s zero bytes.
constexpr std::array<std::array<uint32_t, 256>, 8> MakeSlices() {
  std::array<std::array<uint32_t, 256>, 8> slices{};
  for (uint32_t b = 0; b < 256; ++b) {
    uint32_t crc = b;
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ ((crc & 1) ? kReflectedPolynomial : 0);
    slices[0][b] = crc;
  }
  for (uint32_t b = 0; b < 256; ++b) {
    for (size_t s = 1; s < 8; ++s) {
      const uint32_t previous = slices[s - 1][b];
      slices[s][b] = (previous >> 8) ^ slices[0][previous & 0xFF];
    }
  }
  return slices;
}

constexpr std::array<std::array<uint32_t, 256>, 8> kSlices = MakeSlices();

}  // namespace

// Works on the register value (the CRC inverted), as the instruction does.
inline uint32_t Crc32cSlicedRegister(uint32_t reg, const uint8_t* data, size_t size) {
  for (; size >= 8; size -= 8, data += 8) {
    const uint32_t low = LoadLE<uint32_t>(data) ^ reg;
    const uint32_t high = LoadLE<uint32_t>(data + 4);
    reg = kSlices[7][low & 0xFF] ^ kSlices[6][(low >> 8) & 0xFF] ^ kSlices[5][(low >> 16) & 0xFF] ^
          kSlices[4][low >> 24] ^ kSlices[3][high & 0xFF] ^ kSlices[2][(high >> 8) & 0xFF] ^
          kSlices[1][(high >> 16) & 0xFF] ^ kSlices[0][high >> 24];
  }
  for (; size > 0; --size, ++data) reg = (reg >> 8) ^ kSlices[0][(reg ^ *data) & 0xFF];
  return reg;
}

uint32_t Crc32cPortable(uint32_t crc, const uint8_t* data, size_t size) {
  return ~Crc32cSlicedRegister(~crc, data, size);
}

}  // namespace tarvix
#endif  // TARVIX_BITS_CRC32C_SHARED

HWY_BEFORE_NAMESPACE();
namespace tarvix {
namespace HWY_NAMESPACE {

uint32_t Crc32cRegister(uint32_t reg, const uint8_t* data, size_t size) {
#if HWY_ARCH_X86 && HWY_TARGET <= HWY_SSE4
  uint64_t wide = reg;
  for (; size >= 8; size -= 8, data += 8) {
    uint64_t word = 0;
    std::memcpy(&word, data, 8);
    wide = _mm_crc32_u64(wide, word);
  }
  reg = static_cast<uint32_t>(wide);
  for (; size > 0; --size, ++data) reg = _mm_crc32_u8(reg, *data);
  return reg;
#else
  return Crc32cSlicedRegister(reg, data, size);
#endif
}

}  // namespace HWY_NAMESPACE
}  // namespace tarvix
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace tarvix {

HWY_EXPORT(Crc32cRegister);

uint32_t Crc32c(uint32_t crc, const uint8_t* data, size_t size) {
  return ~HWY_DYNAMIC_DISPATCH(Crc32cRegister)(~crc, data, size);
}

}  // namespace tarvix
#endif  // HWY_ONCE
