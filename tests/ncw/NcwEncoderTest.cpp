// What the encoder writes, byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <thread>

#include "platform/Errors.h"
#include "support/NcwCodec.h"
#include "support/TempDir.h"
#include "support/WholeFiles.h"

namespace tarvix {
namespace {

using test::Bytes;
using Samples = std::vector<int64_t>;

struct TFileView {
  Bytes bytes;
  TNcwHeader header;
  std::vector<uint32_t> table;

  explicit TFileView(Bytes file) : bytes(std::move(file)) {
    header = TNcwHeader::FromImage(bytes.data());
    for (uint32_t p = header.BlockTableOffset; p < header.DataOffset; p += 4) {
      table.push_back(bytes[p] | bytes[p + 1] << 8 | bytes[p + 2] << 16 |
                      static_cast<uint32_t>(bytes[p + 3]) << 24);
    }
  }
  // The channel block `channel` of block `block`, given the widths before it.
  size_t ChannelBlockAt(size_t block, size_t channel) const {
    size_t position = header.DataOffset + table[block];
    for (size_t ch = 0; ch < channel; ++ch) {
      auto h = TChannelBlockHeader::FromImage(bytes.data() + position);
      position += kChannelBlockHeaderBytes + PayloadBytes(std::abs(h.Bits));
    }
    return position;
  }
  TChannelBlockHeader Channel(size_t block, size_t channel) const {
    return TChannelBlockHeader::FromImage(bytes.data() + ChannelBlockAt(block, channel));
  }
  Bytes Payload(size_t block, size_t channel) const {
    size_t position = ChannelBlockAt(block, channel);
    auto h = TChannelBlockHeader::FromImage(bytes.data() + position);
    auto begin = bytes.begin() + static_cast<long>(position + kChannelBlockHeaderBytes);
    return Bytes(begin, begin + PayloadBytes(std::abs(h.Bits)));
  }
};

Samples Repeat(int64_t a, int64_t b, size_t count) {
  Samples s;
  for (size_t i = 0; i < count; ++i) s.push_back(i % 2 == 0 ? a : b);
  return s;
}

TEST(NcwEncoder, AlternatingSamplesGiveTheWorkedChannelBlock) {
  TFileView file(test::EncodeToNcwBytes(16, 1, Repeat(1000, 1001, 512)));
  size_t position = file.ChannelBlockAt(0, 0);
  Bytes header(file.bytes.begin() + static_cast<long>(position),
               file.bytes.begin() + static_cast<long>(position) + 16);
  EXPECT_EQ(header, (Bytes{0x16, 0x0C, 0x9A, 0x3E, 0xE8, 0x03, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00,
                           0x00, 0x00, 0x00, 0x00}));
  Bytes payload(127, 0xDD);
  payload.push_back(0x1D);
  EXPECT_EQ(file.Payload(0, 0), payload);
}

TEST(NcwEncoder, FileLayoutForEdgeLengths) {
  struct Case {
    size_t frames;
    uint32_t dataOffset;
    std::vector<uint32_t> table;
    size_t fileSize;
  } cases[] = {
      {0, 124, {0}, 124},
      {1, 128, {0, 144}, 272},
      {512, 128, {0, 144}, 272},
      {513, 132, {0, 144, 288}, 132 + 288},
      {1024, 132, {0, 144, 288}, 132 + 288},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.frames);
    TFileView file(test::EncodeToNcwBytes(16, 1, Samples(c.frames, 0), 48000));
    EXPECT_EQ(file.bytes.size(), c.fileSize);
    EXPECT_EQ(Bytes(file.bytes.begin(), file.bytes.begin() + 8),
              Bytes(kNcwSignature.begin(), kNcwSignature.end()));
    EXPECT_EQ(file.header.Channels, 1);
    EXPECT_EQ(file.header.BitsPerSample, 16);
    EXPECT_EQ(file.header.SampleRate, 48000u);
    EXPECT_EQ(file.header.NumSamples, c.frames);
    EXPECT_EQ(file.header.BlockTableOffset, 120u);
    EXPECT_EQ(file.header.DataOffset, c.dataOffset);
    EXPECT_EQ(file.header.DataSize, c.table.back());
    EXPECT_EQ(file.header.Reserved, (std::array<uint8_t, 88>{}));
    EXPECT_EQ(file.table, c.table);
    for (size_t k = 0; k + 1 < c.table.size(); ++k) {
      TChannelBlockHeader h = file.Channel(k, 0);
      EXPECT_EQ(h.Bits, 2);  // silence: never a width below 2
      EXPECT_EQ(h.BaseValue, 0);
      EXPECT_EQ(file.Payload(k, 0), Bytes(128, 0));
    }
  }
}

struct WidthCase {
  std::string name;
  int bits;
  Samples samples;  // one mono block or less
  int16_t expectedBits;
};

TEST(NcwEncoder, ChoosesTheSmallestWidthOrAPlainBlock) {
  Samples step16384(512, 0), steps16383, wrap(512, 32767), lastReal, equal(512, -12345);
  for (size_t i = 256; i < 512; ++i) step16384[i] = 16384;
  for (size_t i = 0; i < 512; ++i) steps16383.push_back((i % 2) * 16383 - 8000);
  for (size_t i = 256; i < 512; ++i) wrap[i] = -32768;
  lastReal = Samples(100, 20000);  // followed by 412 padding zeros: a step of -20000
  Samples eightBitNarrow, eightBitWide;
  for (size_t i = 0; i < 512; ++i) eightBitNarrow.push_back((i % 2) * 63 + 100);
  for (size_t i = 0; i < 512; ++i) eightBitWide.push_back((i % 2) * 64 + 100);
  const WidthCase cases[] = {
      {"a step of 16384 needs 16 bits: plain", 16, step16384, -16},
      {"steps of at most 16383 need 15 bits", 16, steps16383, 15},
      {"32767 -> -32768 is the difference +1", 16, wrap, 2},
      {"padding after 20000 widens the last block", 16, lastReal, -16},
      {"equal samples need 2 bits whatever the value", 16, equal, 2},
      {"8-bit steps within -64..63 stay delta", 8, eightBitNarrow, 7},
      {"an 8-bit step of 64 is plain", 8, eightBitWide, -8},
      {"24-bit silence", 24, Samples(512, -1), 2},
      {"32-bit full range", 32, {INT32_MIN, INT32_MAX}, -32},
      {"32-bit small steps", 32, {-5, 5, -5}, 5},
  };
  for (const WidthCase& c : cases) {
    SCOPED_TRACE(c.name);
    TFileView file(test::EncodeToNcwBytes(c.bits, 1, c.samples));
    TChannelBlockHeader h = file.Channel(0, 0);
    EXPECT_EQ(h.Bits, c.expectedBits);
    EXPECT_EQ(h.ChannelMode, 0);
    EXPECT_EQ(h.BlockSignature, kBlockSignature);
    EXPECT_EQ(file.Payload(0, 0).size(), PayloadBytes(std::abs(c.expectedBits)));
    Samples padded = c.samples;
    padded.resize(512, 0);
    int shift = 64 - c.bits;
    EXPECT_EQ(h.BaseValue,
              static_cast<int64_t>(static_cast<uint64_t>(padded[0]) << shift) >> shift);
    if (c.expectedBits < 0) {
      // A plain block holds the samples as they are, for 8 bits the WAV bytes unchanged.
      EXPECT_EQ(file.Payload(0, 0), test::SampleBytes(c.bits, padded));
    }
  }
}

TEST(NcwEncoder, EightBitBaseValueIsTheFirstByteReadAsSigned) {
  TFileView file(test::EncodeToNcwBytes(8, 1, Samples(512, 0x90)));
  EXPECT_EQ(file.Channel(0, 0).BaseValue, -112);
}

TEST(NcwEncoder, StereoBlocksHoldChannelZeroThenChannelOne) {
  Samples stereo;
  for (int i = 0; i < 600; ++i) {
    stereo.push_back(i);            // steps of 1: width 2
    stereo.push_back(i % 2 * 300);  // steps of 300: width 10
  }
  TFileView file(test::EncodeToNcwBytes(16, 2, stereo));
  ASSERT_EQ(file.table.size(), 3u);
  EXPECT_EQ(file.Channel(0, 0).Bits, 2);
  EXPECT_EQ(file.Channel(0, 1).Bits, 10);
  EXPECT_EQ(file.Channel(0, 1).ChannelMode, 0);
  EXPECT_EQ(file.table[1], 16 + 128 + 16 + 640u);
  EXPECT_EQ(file.Channel(1, 0).BaseValue, 512);
}

// Every channel, up to six, is a channel block of its own, in channel order: no channel is
// coded against another.
TEST(NcwEncoder, BlocksHoldEveryChannelInOrderUpToSix) {
  for (int channels = 1; channels <= 6; ++channels) {
    SCOPED_TRACE(channels);
    Samples frames;
    for (int i = 0; i < 700; ++i) {
      for (int ch = 0; ch < channels; ++ch) frames.push_back(i % 2 << (2 * ch));  // width 2ch+2
    }
    TFileView file(test::EncodeToNcwBytes(16, channels, frames));
    ASSERT_EQ(file.table.size(), 3u);
    uint32_t blockBytes = 0;
    for (int ch = 0; ch < channels; ++ch) {
      const auto c = static_cast<size_t>(ch);
      EXPECT_EQ(file.Channel(0, c).Bits, 2 * ch + 2);
      EXPECT_EQ(file.Channel(0, c).ChannelMode, 0);
      EXPECT_EQ(file.Channel(1, c).BaseValue, 0);
      blockBytes += 16 + PayloadBytes(2 * ch + 2);
    }
    EXPECT_EQ(file.table[1], blockBytes);
  }
}

TEST(NcwEncoder, RefusesToGrowAFileBeyondItsPositionLimit) {
  std::mt19937 rng(3);
  Samples noise;
  for (int i = 0; i < 4 * 512; ++i) noise.push_back(static_cast<int16_t>(rng()));
  // Four plain blocks make 120 + 20 + 4 * 1040 = 4300 bytes.
  TNcwHeader fits;
  EXPECT_EQ(test::EncodeToNcwBytes(16, 1, noise, 44100, 4300, &fits).size(), 4300u);
  EXPECT_EQ(fits.DataSize, 4160u);
  try {
    test::EncodeToNcwBytes(16, 1, noise, 44100, 4299);
    FAIL() << "an NCW file larger than the limit was encoded";
  } catch (const TError& error) {
    EXPECT_EQ(error.Message(), "The NCW file would exceed the format's limit of 2 GiB");
  }
}

// The writer as the conversion threads drive it: runs handed in any order, from several
// threads at once, each parked until its place is known and written by whoever places the run
// ahead of it. The file is the one a single thread writes run after run.
TEST(NcwWriter, RunsInAnyOrderFromAnyThreadMakeTheSameFile) {
  std::mt19937 rng(9);
  Samples walk;
  int64_t value = 0;
  for (int i = 0; i < 2 * 7 * 512 + 100; ++i) {
    value = std::clamp<int64_t>(value + static_cast<int>(rng() % 2001) - 1000, -32768, 32767);
    walk.push_back(value);
  }
  const Bytes pcm = test::SampleBytes(16, walk);
  const TNcwStream stream{2, 16, 44100, static_cast<uint32_t>(walk.size() / 2)};
  TMemorySource source(pcm);
  TMemorySink single;
  EncodeNcw(stream, source, 0, single);
  for (const char* way : {"in order", "last first", "each on a thread"}) {
    SCOPED_TRACE(way);
    TMemorySink sink;
    TNcwWriter writer(stream, 1, sink);  // runs of one block: eight of them
    ASSERT_EQ(writer.RunCount(), 8u);
    std::vector<size_t> order(writer.RunCount());
    for (size_t k = 0; k < order.size(); ++k) order[k] = k;
    if (way[0] == 'l') std::reverse(order.begin(), order.end());
    std::vector<std::thread> threads;
    for (size_t k : order) {
      auto write = [&writer, &pcm, k] {
        TNcwRunMemory memory;
        writer.WriteRun(k, pcm.data() + k * writer.RunFrames() * 4, memory);
      };
      if (way[0] == 'e') {
        threads.emplace_back(write);
      } else {
        write();
      }
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(writer.RunsPlaced(), 8u);
    writer.Finish();
    EXPECT_EQ(sink.Bytes(), single.Bytes());
  }
}

TEST(NcwWriter, AnAbandonedFileTakesNoFurtherRuns) {
  const Bytes pcm(4 * 3 * 512, 1);
  const TNcwStream stream{2, 16, 44100, 3 * 512};
  TMemorySink sink;
  TNcwWriter writer(stream, 1, sink);
  TNcwRunMemory memory;
  writer.WriteRun(2, pcm.data() + 2 * 2048, memory);  // parked: runs 0 and 1 are not placed
  writer.Abandon();
  EXPECT_THROW(writer.WriteRun(0, pcm.data(), memory), TRunAbandoned);
  EXPECT_EQ(writer.RunsPlaced(), 0u);
  EXPECT_TRUE(sink.Bytes().empty());
}

}  // namespace
}  // namespace tarvix
