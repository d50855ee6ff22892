// CRC-32C, compiled once for every instruction set Highway targets: the x86 targets from SSE4 up
// carry the crc32 instruction (8 bytes a step), the others use the table of eight slices.
//
// The instruction takes three cycles but can start one every cycle, so longer pieces are cut in
// three that are worked on side by side; their CRCs are joined by the operator that appends a
// fixed number of zero bytes, as tables (the register's CRC is linear in its start value).
// foreach_target.h includes this file again once per target: it comes first.
// clang-format off
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "bits/Crc32c.cpp"
#include <hwy/foreach_target.h>  // includes this file again once per target
#include <hwy/highway.h>
// clang-format on

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

// Operators on the register over GF(2), as the images of its 32 bits.
using TOperator = std::array<uint32_t, 32>;

constexpr uint32_t Apply(const TOperator& op, uint32_t v) {
  uint32_t sum = 0;
  for (int bit = 0; v != 0; ++bit, v >>= 1) {
    if (v & 1) sum ^= op[bit];
  }
  return sum;
}

constexpr TOperator Compose(const TOperator& a, const TOperator& b) {  // a after b
  TOperator c{};
  for (int bit = 0; bit < 32; ++bit) c[bit] = Apply(a, b[bit]);
  return c;
}

// The register after `bytes` zero bytes, as a function of the register before them.
constexpr TOperator ZerosOperator(size_t bytes) {
  TOperator power{};  // one zero bit
  power[0] = kReflectedPolynomial;
  for (int bit = 1; bit < 32; ++bit) power[bit] = 1u << (bit - 1);
  for (int i = 0; i < 3; ++i) power = Compose(power, power);  // one zero byte
  TOperator result{};
  for (int bit = 0; bit < 32; ++bit) result[bit] = 1u << bit;
  for (; bytes != 0; bytes >>= 1, power = Compose(power, power)) {
    if (bytes & 1) result = Compose(power, result);
  }
  return result;
}

// The operator as four tables, one per byte of the register.
using TShiftTables = std::array<std::array<uint32_t, 256>, 4>;

constexpr TShiftTables MakeShiftTables(size_t bytes) {
  const TOperator op = ZerosOperator(bytes);
  TShiftTables tables{};
  for (uint32_t b = 0; b < 256; ++b) {
    for (int k = 0; k < 4; ++k) tables[k][b] = Apply(op, b << (8 * k));
  }
  return tables;
}

}  // namespace

// The lengths of the three pieces worked on side by side.
constexpr size_t kLongPiece = 4096;
constexpr size_t kShortPiece = 128;
constexpr TShiftTables kShiftLong = MakeShiftTables(kLongPiece);
constexpr TShiftTables kShiftShort = MakeShiftTables(kShortPiece);

inline uint32_t Shift(const TShiftTables& tables, uint32_t reg) {
  return tables[0][reg & 0xFF] ^ tables[1][(reg >> 8) & 0xFF] ^ tables[2][(reg >> 16) & 0xFF] ^
         tables[3][reg >> 24];
}

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

#if HWY_ARCH_X86 && HWY_TARGET <= HWY_SSE4
inline uint64_t Word(const uint8_t* p) {
  uint64_t word = 0;
  std::memcpy(&word, p, 8);
  return word;
}

// Three pieces of `piece` bytes side by side, for as long as they last.
inline uint32_t ThreeWays(uint32_t reg, const uint8_t*& data, size_t& size, size_t piece,
                          const TShiftTables& shift) {
  for (; size >= 3 * piece; size -= 3 * piece, data += 3 * piece) {
    uint64_t a = reg;
    uint64_t b = 0;
    uint64_t c = 0;
    for (size_t i = 0; i < piece; i += 8) {
      a = _mm_crc32_u64(a, Word(data + i));
      b = _mm_crc32_u64(b, Word(data + piece + i));
      c = _mm_crc32_u64(c, Word(data + 2 * piece + i));
    }
    reg = Shift(shift, Shift(shift, static_cast<uint32_t>(a)) ^ static_cast<uint32_t>(b)) ^
          static_cast<uint32_t>(c);
  }
  return reg;
}
#endif

uint32_t Crc32cRegister(uint32_t reg, const uint8_t* data, size_t size) {
#if HWY_ARCH_X86 && HWY_TARGET <= HWY_SSE4
  reg = ThreeWays(reg, data, size, kLongPiece, kShiftLong);
  reg = ThreeWays(reg, data, size, kShortPiece, kShiftShort);
  uint64_t wide = reg;
  for (; size >= 8; size -= 8, data += 8) wide = _mm_crc32_u64(wide, Word(data));
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
