// CRC-32C: the published check values, and the instruction the same as the table everywhere.
#include "bits/Crc32c.h"

#include <gtest/gtest.h>

#include <numeric>
#include <random>
#include <string>
#include <vector>

namespace tarvix {
namespace {

using Bytes = std::vector<uint8_t>;

struct KnownCase {
  std::string name;
  Bytes bytes;
  uint32_t crc;
};

Bytes Counting(uint8_t first, int step) {
  Bytes bytes(32);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(first + step * int(i));
  return bytes;
}

TEST(Crc32c, GivesThePublishedCheckValues) {
  const std::string digits = "123456789";
  const KnownCase cases[] = {
      {"nothing", {}, 0},
      {"123456789", Bytes(digits.begin(), digits.end()), 0xE3069283},
      {"32 zeros", Bytes(32, 0x00), 0x8A9136AA},  // the iSCSI examples
      {"32 ones", Bytes(32, 0xFF), 0x62A8AB43},
      {"0 to 31", Counting(0, 1), 0x46DD794E},
      {"31 to 0", Counting(31, -1), 0x113FDB5C},
  };
  for (const KnownCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Crc32c(0, c.bytes.data(), c.bytes.size()), c.crc);
    EXPECT_EQ(Crc32cPortable(0, c.bytes.data(), c.bytes.size()), c.crc);
  }
}

// Every length and alignment around the 8-byte steps and the three pieces worked on side by side
// (3 x 128 and 3 x 4096 bytes), in one piece and in two.
TEST(Crc32c, TheInstructionAndTheTableAgreeAndPiecesChain) {
  std::mt19937 rng(7);
  Bytes bytes(40000);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(rng());
  std::vector<size_t> sizes;
  for (size_t size = 0; size < 1100; size += size < 40 ? 1 : 97) sizes.push_back(size);
  for (size_t size : {383, 384, 385, 391, 12287, 12288, 12289, 12288 + 384 + 13, 39991}) {
    sizes.push_back(size);
  }
  for (size_t start = 0; start < 9; ++start) {
    for (size_t size : sizes) {
      SCOPED_TRACE(std::to_string(start) + " " + std::to_string(size));
      const uint8_t* p = bytes.data() + start;
      const uint32_t whole = Crc32cPortable(0, p, size);
      ASSERT_EQ(Crc32c(0, p, size), whole);
      const size_t cut = size / 3;
      ASSERT_EQ(Crc32c(Crc32c(0, p, cut), p + cut, size - cut), whole);
      ASSERT_EQ(Crc32cPortable(Crc32cPortable(0, p, cut), p + cut, size - cut), whole);
    }
  }
}

}  // namespace
}  // namespace tarvix
