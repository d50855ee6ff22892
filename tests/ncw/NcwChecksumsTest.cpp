// NCW files written with -crc: only the reserved bytes differ from a file without, any reader
// that follows the format decodes them, and a byte damaged anywhere is found and named.
#include "ncw/NcwChecksums.h"

#include <gtest/gtest.h>

#include <random>
#include <set>

#include "bits/LittleEndian.h"
#include "platform/Errors.h"
#include "support/NcwCodec.h"

namespace tarvix {
namespace {

using test::Bytes;
using Samples = std::vector<int64_t>;

// A wandering signal with jumps now and then, so that delta and plain blocks occur.
Samples Wandering(int bits, size_t count) {
  std::mt19937 rng(static_cast<unsigned>(bits * 131 + count));
  std::uniform_int_distribution<int64_t> step(-300, 300);
  Samples samples;
  int64_t value = 0;
  const int shift = 64 - bits;
  for (size_t i = 0; i < count; ++i) {
    value += (i % 900 == 899) ? static_cast<int64_t>(rng()) : step(rng);
    samples.push_back(static_cast<int64_t>(static_cast<uint64_t>(value) << shift) >> shift);
  }
  return samples;
}

// Where each block's channel blocks start, from the table and the widths.
std::vector<std::vector<size_t>> ChannelBlocks(const Bytes& file) {
  const TNcwHeader header = TNcwHeader::FromImage(file.data());
  const size_t blocks = (header.DataOffset - header.BlockTableOffset) / 4 - 1;
  std::vector<std::vector<size_t>> at(blocks);
  for (size_t k = 0; k < blocks; ++k) {
    size_t position =
        header.DataOffset + LoadLE<uint32_t>(file.data() + header.BlockTableOffset + 4 * k);
    for (size_t ch = 0; ch < header.Channels; ++ch) {
      at[k].push_back(position);
      const int bits = LoadLE<int16_t>(file.data() + position + 8);
      position += kChannelBlockHeaderBytes + PayloadBytes(std::abs(bits));
    }
  }
  return at;
}

struct ChecksumCase {
  int bits;
  int channels;
  size_t frames;
};

class NcwChecksums : public ::testing::TestWithParam<ChecksumCase> {
 protected:
  void SetUp() override {
    const ChecksumCase& c = GetParam();
    samples = Wandering(c.bits, c.frames * c.channels);
    plain = test::EncodeToNcwBytes(c.bits, c.channels, samples);
    sealed =
        test::EncodeToNcwBytes(c.bits, c.channels, samples, 44100, kMaxNcwFileBytes, nullptr, true);
    blocks = ChannelBlocks(sealed);
  }

  Samples samples;
  Bytes plain;
  Bytes sealed;
  std::vector<std::vector<size_t>> blocks;
};

TEST_P(NcwChecksums, OnlyTheReservedBytesDifferAndEveryReaderDecodesTheSamples) {
  ASSERT_EQ(sealed.size(), plain.size());
  Bytes cleared = sealed;
  std::fill(cleared.begin() + 32, cleared.begin() + kNcwHeaderBytes, uint8_t{0});
  for (const std::vector<size_t>& block : blocks) {
    for (size_t at : block) {
      EXPECT_NE(LoadLE<uint32_t>(sealed.data() + at + 12), 0u);  // most unlikely to be 0
      std::fill(cleared.begin() + at + 12, cleared.begin() + at + 16, uint8_t{0});
    }
  }
  EXPECT_EQ(cleared, plain);  // without -crc: the format's encoder, byte for byte
  EXPECT_EQ(test::DecodeByTheLayoutAlone(sealed), samples);
  EXPECT_EQ(test::DecodeByTheLayoutAlone(plain), samples);
  TNcwReader reader;
  EXPECT_EQ(test::DecodeNcwBytes(sealed, &reader), samples);
  EXPECT_TRUE(reader.CarriesChecksums());
  EXPECT_EQ(test::DecodeNcwBytes(plain, &reader), samples);
  EXPECT_FALSE(reader.CarriesChecksums());
}

struct Damage {
  size_t at;
  std::string message;
  bool reserved = false;  // in bytes the format reserves
};

// One byte flipped in the header (its fields, the marker, the version, both CRCs, the zeros),
// the table and each block's header and payload: in the first, a middle and the last block.
std::vector<Damage> EveryRegion(const Bytes& file, const std::vector<std::vector<size_t>>& blocks) {
  const TNcwHeader header = TNcwHeader::FromImage(file.data());
  std::vector<Damage> damage;
  for (size_t at : {8, 11, 17, 25, 29, 33, 36, 41, 45, 100, 119}) {
    damage.push_back({at, "checksum mismatch (header)", at >= 32});
  }
  for (size_t at = header.BlockTableOffset; at < header.DataOffset;
       at += 4 * blocks.size() / 3 + 1) {
    damage.push_back({at, "checksum mismatch (block table)"});
  }
  damage.push_back({header.DataOffset - 1, "checksum mismatch (block table)"});
  if (blocks.empty()) return damage;
  const std::set<size_t> chosen = {0, blocks.size() / 2, blocks.size() - 1};
  for (size_t k : chosen) {
    for (size_t ch = 0; ch < blocks[k].size(); ++ch) {
      const size_t at = blocks[k][ch];
      const size_t end = ch + 1 < blocks[k].size() ? blocks[k][ch + 1]
                         : k + 1 < blocks.size()   ? blocks[k + 1][0]
                                                   : file.size();
      const std::string where =
          "checksum mismatch (block " + std::to_string(k) + ", channel " + std::to_string(ch) + ")";
      // Signature, base value, the CRC itself; the payload's first, middle and last byte.
      for (size_t offset :
           {size_t{1}, size_t{5}, size_t{14}, size_t{16}, (end - at + 16) / 2, end - at - 1}) {
        damage.push_back({at + offset, where, offset == 14});
      }
    }
  }
  return damage;
}

TEST_P(NcwChecksums, AByteFlippedInAnyRegionIsFoundAndNamed) {
  for (const Damage& d : EveryRegion(sealed, blocks)) {
    SCOPED_TRACE(d.at);
    Bytes damaged = sealed;
    damaged[d.at] ^= 0x10;
    try {
      test::DecodeNcwBytes(damaged);
      ADD_FAILURE() << "not found: " << d.message;
    } catch (const TError& error) {
      EXPECT_EQ(error.Message(), d.message);
    }
    // Without checksums the same byte goes unseen: the reserved ones change nothing at all.
    Bytes unsealed = plain;
    unsealed[d.at] ^= 0x10;
    if (d.reserved) {
      EXPECT_EQ(test::DecodeNcwBytes(unsealed), samples);
    }
  }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(WidthsAndChannels, NcwChecksums, ::testing::Values(
    ChecksumCase{8, 1, 1100}, ChecksumCase{8, 2, 1100}, ChecksumCase{8, 3, 700},
    ChecksumCase{8, 6, 1100}, ChecksumCase{16, 1, 1100}, ChecksumCase{16, 2, 1100},
    ChecksumCase{16, 4, 700}, ChecksumCase{16, 6, 1100}, ChecksumCase{24, 1, 1100},
    ChecksumCase{24, 2, 1100}, ChecksumCase{24, 5, 700}, ChecksumCase{24, 6, 1100},
    ChecksumCase{32, 1, 1100}, ChecksumCase{32, 2, 1100}, ChecksumCase{32, 3, 700},
    ChecksumCase{32, 6, 1100},
    ChecksumCase{16, 1, 0},        // no blocks: the table is its end entry alone
    ChecksumCase{16, 1, 600000},   // several runs: the table's CRC taken run by run
    ChecksumCase{24, 6, 100000})); // several runs of many channels
// clang-format on

}  // namespace
}  // namespace tarvix
