// CRC-32C (Castagnoli, polynomial 0x1EDC6F41, reflected, initial and final value 0xFFFFFFFF):
// the checksum NCW files written with -crc carry. The processor's crc32 instruction is used
// where it has one; elsewhere a table of eight slices, which gives the same values.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarvix {

// The CRC-32C of `size` bytes at `data`, continuing the CRC `crc` of the bytes before them (0
// for none): Crc32c(Crc32c(0, a), b) is the CRC of a followed by b. "123456789" gives
// 0xE3069283.
uint32_t Crc32c(uint32_t crc, const uint8_t* data, size_t size);

// The same, always by the table: the reference the instruction is tested against.
uint32_t Crc32cPortable(uint32_t crc, const uint8_t* data, size_t size);

}  // namespace tarvix
