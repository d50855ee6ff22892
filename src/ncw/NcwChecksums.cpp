#include "ncw/NcwChecksums.h"

#include <algorithm>
#include <cstring>

#include "bits/Crc32c.h"
#include "bits/LittleEndian.h"

namespace tarvix {

namespace {

constexpr uint32_t kReservedAt = 32;

uint32_t HeaderCrc(const uint8_t* image) {
  std::array<uint8_t, kNcwHeaderBytes> copy;
  std::memcpy(copy.data(), image, copy.size());
  std::memset(copy.data() + kHeaderChecksumAt, 0, 4);
  return Crc32c(0, copy.data(), copy.size());
}

bool HasMarker(const uint8_t* image) {
  return std::memcmp(image + kChecksumMarkerAt, kChecksumMarker.data(), 4) == 0;
}

}  // namespace

// A header whose marker was damaged has no marker to go by: its reserved bytes are not zero,
// and with the marker put back they match the header's CRC.
TChecksumState ChecksumStateOf(const uint8_t* image) {
  const uint32_t stored = LoadLE<uint32_t>(image + kHeaderChecksumAt);
  if (!HasMarker(image)) {
    const uint8_t* reserved = image + kReservedAt;
    if (std::all_of(reserved, image + kNcwHeaderBytes, [](uint8_t b) { return b == 0; })) {
      return TChecksumState::kNone;
    }
    std::array<uint8_t, kNcwHeaderBytes> repaired;
    std::memcpy(repaired.data(), image, repaired.size());
    std::memcpy(repaired.data() + kChecksumMarkerAt, kChecksumMarker.data(), 4);
    // Other writers may use the bytes as they please.
    return HeaderCrc(repaired.data()) == stored ? TChecksumState::kHeaderDamaged
                                                : TChecksumState::kNone;
  }
  if (HeaderCrc(image) != stored) return TChecksumState::kHeaderDamaged;
  return LoadLE<uint16_t>(image + kChecksumVersionAt) == kChecksumLayoutVersion
             ? TChecksumState::kChecked
             : TChecksumState::kUnknownLayout;
}

bool CarriesChecksums(const TNcwHeader& header) {
  return std::memcmp(header.Reserved.data(), kChecksumMarker.data(), 4) == 0 &&
         LoadLE<uint16_t>(header.Reserved.data() + kChecksumVersionAt - kReservedAt) ==
             kChecksumLayoutVersion;
}

void SealHeader(TNcwHeader& header, uint32_t tableCrc) {
  uint8_t* reserved = header.Reserved.data();
  header.Reserved.fill(0);
  std::memcpy(reserved + kChecksumMarkerAt - kReservedAt, kChecksumMarker.data(), 4);
  StoreLE(reserved + kChecksumVersionAt - kReservedAt, kChecksumLayoutVersion);
  StoreLE(reserved + kTableChecksumAt - kReservedAt, tableCrc);
  StoreLE(reserved + kHeaderChecksumAt - kReservedAt, HeaderCrc(header.Image().data()));
}

uint32_t ChannelBlockCrc(const uint8_t* block, uint32_t payloadBytes) {
  const uint32_t crc = Crc32c(0, block, kChannelBlockChecksumAt);
  return Crc32c(crc, block + kChannelBlockHeaderBytes, payloadBytes);
}

}  // namespace tarvix
