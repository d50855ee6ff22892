// The checksums an NCW file written with -crc carries in the bytes the format reserves, which
// every reader ignores: such a file decodes anywhere, and here each of its bytes is checked.
//
// File header, its 88 reserved bytes (positions in the file):
//   32  4 bytes  marker "TXCK"
//   36  u16      layout version, 1
//   38  u16      0
//   40  u32      CRC-32C of the block table: the bytes from BlockTableOffset to DataOffset
//   44  u32      CRC-32C of the 120 header bytes, these four taken as zero
//   48  72 bytes 0
// Channel block header, its 4 reserved bytes (offset 12): the CRC-32C of the channel block's
// bytes 0 to 11 followed by its payload. The file ends right after its last block: it is
// DataOffset + DataSize bytes long. Every version keeps the marker, the version and the
// header's CRC where they are.
#pragma once

#include <array>
#include <cstdint>

#include "ncw/NcwFormat.h"

namespace tarvix {

constexpr std::array<uint8_t, 4> kChecksumMarker = {'T', 'X', 'C', 'K'};
constexpr uint16_t kChecksumLayoutVersion = 1;
constexpr uint32_t kChecksumMarkerAt = 32;
constexpr uint32_t kChecksumVersionAt = 36;
constexpr uint32_t kTableChecksumAt = 40;
constexpr uint32_t kHeaderChecksumAt = 44;
constexpr uint32_t kChannelBlockChecksumAt = 12;

// What a file's header says about its checksums.
enum class TChecksumState {
  kNone,           // none: the reserved bytes hold no marker (all zero as the format writes)
  kChecked,        // checksums of the layout this program knows; the header's is right
  kUnknownLayout,  // a later layout: the header's CRC is right, the rest is not understood
  kHeaderDamaged,  // the header does not match its CRC (its marker may be what was damaged)
};

// The state of the 120 header bytes at `image`.
TChecksumState ChecksumStateOf(const uint8_t* image);

// True for a header whose checksums are checked (its CRC was found right on opening).
bool CarriesChecksums(const TNcwHeader& header);

// Fills the reserved bytes: marker, version, the block table's CRC and the header's own.
void SealHeader(TNcwHeader& header, uint32_t tableCrc);

// The CRC of the channel block at `block` with `payloadBytes` of payload.
uint32_t ChannelBlockCrc(const uint8_t* block, uint32_t payloadBytes);

}  // namespace tarvix
