#include "bits/BitPacking.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <climits>
#include <random>

#include "bits/BlockKernels.h"
#include "support/NcwCodec.h"

namespace tarvix {
namespace {

using Bytes = std::vector<uint8_t>;

// ---- A reference that follows the stream's definition bit by bit ----

template <class C>
Bytes ReferencePack(const Bytes& values, int width) {
  size_t count = values.size() / C::kBytes;
  Bytes stream((count * static_cast<size_t>(width) + 7) / 8, 0);
  for (size_t i = 0; i < count; ++i) {
    uint64_t value = C::Load(values.data() + i * C::kBytes);  // container bits, no sign
    for (int j = 0; j < width; ++j) {
      uint64_t bit = j < C::kBits ? (value >> j) & 1 : 0;
      size_t k = i * static_cast<size_t>(width) + static_cast<size_t>(j);
      stream[k / 8] |= static_cast<uint8_t>(bit << (k % 8));
    }
  }
  return stream;
}

template <class C>
Bytes ReferenceUnpackDelta(const Bytes& stream, int count, int width, int32_t base) {
  Bytes out(static_cast<size_t>(count) * C::kBytes);
  uint32_t value = static_cast<uint32_t>(base);
  C::Store(out.data(), value);
  for (int i = 1; i < count; ++i) {
    uint32_t field = 0;
    for (int j = 0; j < width; ++j) {
      size_t k = static_cast<size_t>(i - 1) * static_cast<size_t>(width) + static_cast<size_t>(j);
      field |= static_cast<uint32_t>((stream[k / 8] >> (k % 8)) & 1) << j;
    }
    if (width > 0 && width < 32 && (field >> (width - 1)) & 1) field |= ~0u << width;
    value += field;
    C::Store(out.data() + static_cast<size_t>(i) * C::kBytes, value);
  }
  return out;
}

Bytes Random(std::mt19937& rng, size_t size) {
  Bytes bytes(size);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(rng());
  return bytes;
}

template <class C>
Bytes Values(std::initializer_list<int64_t> values) {
  Bytes bytes(values.size() * C::kBytes);
  size_t i = 0;
  for (int64_t v : values) C::Store(bytes.data() + C::kBytes * i++, static_cast<uint32_t>(v));
  return bytes;
}

template <class C>
std::vector<int64_t> SignedValues(const Bytes& bytes) {
  std::vector<int64_t> values;
  for (size_t i = 0; i < bytes.size(); i += C::kBytes) {
    values.push_back(C::LoadSigned(bytes.data() + i));
  }
  return values;
}

// ---- Worked examples ----

TEST(PackBits, WorkedExamples) {
  Bytes out(2, 0xEE);
  TBitPacking::PackBits<TSample16>(3, 3, Values<TSample16>({1, 2, 3}).data(), out.data());
  EXPECT_EQ(out, (Bytes{0xD1, 0x00}));
  TBitPacking::PackBits<TSample16>(3, 5, Values<TSample16>({-1, 5, -3}).data(), out.data());
  EXPECT_EQ(out, (Bytes{0xBF, 0x74}));
  Bytes one(2, 0xEE);
  TBitPacking::PackBits<TSample16>(1, 8, Values<TSample16>({300}).data(), one.data());
  EXPECT_EQ(one, (Bytes{0x2C, 0xEE}));  // the low 8 bits, one byte only
  TBitPacking::PackBits<TSample8>(1, 5, Values<TSample8>({-1}).data(), one.data());
  EXPECT_EQ(one[0], 0x1F);
}

TEST(PackBits, EmptyStreams) {
  Bytes out(4, 0xEE);
  TBitPacking::PackBits<TSample16>(0, 16, Values<TSample16>({}).data(), out.data());
  TBitPacking::PackBits<TSample24>(5, 0, Values<TSample24>({1, 2, 3, 4, 5}).data(), out.data());
  EXPECT_EQ(out, Bytes(4, 0xEE));
}

TEST(UnpackBits, WorkedExamples) {
  Bytes stream = {0xBF, 0x74};
  Bytes out(8);
  TBitPacking::UnpackBits<TSample16>(4, 5, stream.data(), 100, out.data(), true);
  EXPECT_EQ(SignedValues<TSample16>(out), (std::vector<int64_t>{100, 99, 104, 101}));

  Bytes wrap = {0x01};
  TBitPacking::UnpackBits<TSample16>(2, 2, wrap.data(), 32767, out.data(), true);
  EXPECT_EQ(SignedValues<TSample16>(Bytes(out.begin(), out.begin() + 4)),
            (std::vector<int64_t>{32767, -32768}));

  Bytes fields32 = {0x00, 0x00, 0x00, 0x80, 0xFF, 0xFF, 0xFF, 0xFF};
  Bytes out32(12);
  TBitPacking::UnpackBits<TSample32>(3, 32, fields32.data(), 5, out32.data(), true);
  EXPECT_EQ(SignedValues<TSample32>(out32),
            (std::vector<int64_t>{5, 5 - 2147483648LL, 4 - 2147483648LL}));
}

TEST(UnpackBits, CountOneReadsNothingAndPlainCopyIgnoresWidthAndBase) {
  Bytes out(6, 0xEE);
  TBitPacking::UnpackBits<TSample24>(1, 17, nullptr, -2, out.data(), true);
  EXPECT_EQ(out, (Bytes{0xFE, 0xFF, 0xFF, 0xEE, 0xEE, 0xEE}));
  Bytes source = {1, 2, 3, 4, 5, 6};  // exactly 6 bytes: reading more would be caught
  Bytes copy(6);
  TBitPacking::UnpackBits<TSample24>(2, 5, source.data(), 99, copy.data(), false);
  EXPECT_EQ(copy, source);
}

TEST(UnpackBits, WidthZeroRepeatsTheBase) {
  Bytes out(4 * 5);
  TBitPacking::UnpackBits<TSample32>(5, 0, nullptr, -7, out.data(), true);
  EXPECT_EQ(SignedValues<TSample32>(out), (std::vector<int64_t>(5, -7)));
}

// ---- Properties for every container and every width ----

template <class C>
class BitsProperties : public ::testing::Test {};
using Containers = ::testing::Types<TSample8, TSample16, TSample24, TSample32>;
TYPED_TEST_SUITE(BitsProperties, Containers);

const int kCounts[] = {1, 2, 7, 31, 32, 33, 63, 64, 65, 511, 512, 513, 1000};

TYPED_TEST(BitsProperties, PackingMatchesTheStreamDefinitionByteForByte) {
  using C = TypeParam;
  std::mt19937 rng(1234);
  for (int width = 0; width <= 32; ++width) {
    for (int count : kCounts) {
      SCOPED_TRACE("width " + std::to_string(width) + ", count " + std::to_string(count));
      Bytes values = Random(rng, static_cast<size_t>(count) * C::kBytes);
      Bytes expected = ReferencePack<C>(values, width);
      // Exactly sized: ASan reports a write past the stream's last byte.
      Bytes stream(expected.size());
      TBitPacking::PackBits<C>(count, width, values.data(), stream.data());
      ASSERT_EQ(stream, expected);
    }
  }
}

TYPED_TEST(BitsProperties, DeltaUnpackingMatchesTheStreamDefinition) {
  using C = TypeParam;
  std::mt19937 rng(99);
  for (int width = 0; width <= 32; ++width) {
    for (int count : kCounts) {
      SCOPED_TRACE("width " + std::to_string(width) + ", count " + std::to_string(count));
      // Exactly the bytes count - 1 fields take: ASan reports any read beyond them.
      Bytes stream = Random(rng, (static_cast<size_t>(count - 1) * width + 7) / 8);
      auto base = static_cast<int32_t>(rng());
      Bytes out(static_cast<size_t>(count) * C::kBytes);
      TBitPacking::UnpackBits<C>(count, width, stream.data(), base, out.data(), true);
      ASSERT_EQ(out, ReferenceUnpackDelta<C>(stream, count, width, base));
    }
  }
}

TYPED_TEST(BitsProperties, DifferencesThatFitRoundTripThroughPackAndUnpack) {
  using C = TypeParam;
  std::mt19937 rng(7);
  for (int width = 1; width <= 32; ++width) {
    for (int count : {1, 2, 33, 512, 1000}) {
      SCOPED_TRACE("width " + std::to_string(width) + ", count " + std::to_string(count));
      // Random walk whose steps fit `width` bits as signed numbers (and the container).
      int bits = std::min(width, C::kBits);
      int64_t lo = -(int64_t{1} << (bits - 1)), hi = (int64_t{1} << (bits - 1)) - 1;
      std::uniform_int_distribution<int64_t> step(lo, hi);
      Bytes values(static_cast<size_t>(count) * C::kBytes), deltas(values.size(), 0);
      uint32_t value = static_cast<uint32_t>(rng());
      for (int i = 0; i < count; ++i) {
        C::Store(values.data() + i * C::kBytes, value);
        int64_t d = step(rng);
        if (i + 1 < count) C::Store(deltas.data() + i * C::kBytes, static_cast<uint32_t>(d));
        value += static_cast<uint32_t>(d);
      }
      Bytes stream((static_cast<size_t>(count) * width + 7) / 8);
      TBitPacking::PackBits<C>(count, width, deltas.data(), stream.data());
      Bytes out(values.size());
      TBitPacking::UnpackBits<C>(count, width, stream.data(), C::LoadSigned(values.data()),
                                 out.data(), true);
      ASSERT_EQ(out, values);
    }
  }
}

TYPED_TEST(BitsProperties, PlainPackAtContainerWidthUnpacksToTheSameBytes) {
  using C = TypeParam;
  std::mt19937 rng(5);
  Bytes values = Random(rng, 512 * C::kBytes);
  Bytes stream(64 * C::kBits);
  TBitPacking::PackBits<C>(512, C::kBits, values.data(), stream.data());
  EXPECT_EQ(stream, values);
  Bytes out(values.size());
  TBitPacking::UnpackBits<C>(512, C::kBits, stream.data(), 0, out.data(), false);
  EXPECT_EQ(out, values);
}

// ---- Block kernels: every instruction set against the scalar reference ----

template <class C>
using Block = std::vector<TWork<C>>;

// A value wrapped to the container, as the kernels hold it.
template <class C>
TWork<C> Wrapped(int64_t v) {
  return static_cast<TWork<C>>(C::SignExtend(static_cast<uint32_t>(v)));
}

// Blocks of samples: random over the whole container, the extremes, differences that wrap,
// and random walks whose steps need each width from 1 bit to the container's.
template <class C>
std::vector<Block<C>> SampleBlocks(std::mt19937& rng) {
  const int64_t lo = -(int64_t{1} << (C::kBits - 1)), hi = -lo - 1;
  std::uniform_int_distribution<int64_t> any(lo, hi);
  std::vector<Block<C>> blocks;
  auto add = [&](auto value) {
    Block<C> block(kBlockValues);
    for (int i = 0; i < kBlockValues; ++i) block[i] = Wrapped<C>(value(i));
    blocks.push_back(block);
  };
  add([&](int) { return any(rng); });
  add([&](int) { return lo; });
  add([&](int) { return hi; });
  add([&](int i) { return i % 2 ? lo : hi; });
  add([&](int i) { return i % 3 ? hi : lo; });
  add([&](int i) { return i < 511 ? 0 : hi; });  // one step in the last difference only
  for (int bits = 1; bits <= C::kBits; ++bits) {
    std::uniform_int_distribution<int64_t> step(-(int64_t{1} << (bits - 1)),
                                                (int64_t{1} << (bits - 1)) - 1);
    int64_t value = any(rng);
    add([&](int) { return value += step(rng); });
  }
  return blocks;
}

template <class C>
class BlockKernelsTest : public ::testing::Test {};
TYPED_TEST_SUITE(BlockKernelsTest, Containers);

// Calls `check` once per instruction set, with its tables handed out.
template <class F>
void ForEachTarget(F&& check) {
  for (const TKernelTarget& target : KernelTargets()) {
    SCOPED_TRACE("target " + target.name);
    TForcedKernels forced(target.id);
    check();
  }
}

const size_t kAvailable[] = {0,  1,  2,  3,  4,   5,   7,   8,   9,   15,  16,  17,  31, 32,
                             33, 63, 64, 65, 100, 255, 256, 257, 500, 509, 510, 511, 512};

TYPED_TEST(BlockKernelsTest, GatheringAChannelMatchesTheReference) {
  using C = TypeParam;
  std::mt19937 rng(11);
  ForEachTarget([&] {
    for (size_t channels = 1; channels <= 6; ++channels) {
      for (size_t available : kAvailable) {
        // Exactly the frames there are: ASan reports a read past the last one.
        Bytes frames = Random(rng, available * channels * C::kBytes);
        for (size_t ch = 0; ch < channels; ++ch) {
          SCOPED_TRACE(std::to_string(channels) + " channels, channel " + std::to_string(ch) +
                       ", " + std::to_string(available) + " frames");
          const uint8_t* first = frames.data() + ch * C::kBytes;
          Block<C> expected(kBlockValues, 1), got(kBlockValues, 2);
          ScalarBlockKernels<C>().gatherChannel(first, channels, available, expected.data());
          BlockKernels<C>().gatherChannel(first, channels, available, got.data());
          ASSERT_EQ(got, expected);
        }
      }
    }
  });
}

TYPED_TEST(BlockKernelsTest, DifferencesAndTheirWidthMatchTheReference) {
  using C = TypeParam;
  std::mt19937 rng(12);
  const std::vector<Block<C>> blocks = SampleBlocks<C>(rng);
  ForEachTarget([&] {
    for (size_t b = 0; b < blocks.size(); ++b) {
      SCOPED_TRACE("block " + std::to_string(b));
      Block<C> expected(kBlockValues, 1), got(kBlockValues, 2);
      uint32_t expectedWidth =
          ScalarBlockKernels<C>().makeDeltas(blocks[b].data(), expected.data());
      ASSERT_EQ(BlockKernels<C>().makeDeltas(blocks[b].data(), got.data()), expectedWidth);
      ASSERT_EQ(got, expected);
    }
  });
}

TYPED_TEST(BlockKernelsTest, PackingMatchesTheReferenceAtEveryWidth) {
  using C = TypeParam;
  std::mt19937 rng(13);
  const std::vector<Block<C>> blocks = SampleBlocks<C>(rng);
  ForEachTarget([&] {
    for (int width = 1; width <= C::kBits; ++width) {
      for (size_t b = 0; b < blocks.size(); ++b) {
        SCOPED_TRACE("width " + std::to_string(width) + ", block " + std::to_string(b));
        // Exactly 64 * width bytes: ASan reports a write past them.
        Bytes expected(64 * static_cast<size_t>(width), 1), got(expected.size(), 2);
        ScalarBlockKernels<C>().packFields(blocks[b].data(), width, expected.data());
        BlockKernels<C>().packFields(blocks[b].data(), width, got.data());
        ASSERT_EQ(got, expected);
      }
    }
  });
}

TYPED_TEST(BlockKernelsTest, UnpackingMatchesTheReferenceAtEveryWidth) {
  using C = TypeParam;
  std::mt19937 rng(14);
  const int32_t bases[] = {0,
                           -1,
                           INT32_MIN,
                           INT32_MAX,
                           static_cast<int32_t>(rng()),
                           static_cast<int32_t>(C::kMask >> 1),
                           static_cast<int32_t>(C::kMask)};
  ForEachTarget([&] {
    for (int width = 0; width <= C::kBits; ++width) {
      for (int32_t base : bases) {
        SCOPED_TRACE("width " + std::to_string(width) + ", base " + std::to_string(base));
        // Random fields, all ones (-1 each) and ones in the sign bits only (the most negative
        // steps): sums that wrap many times over. Exactly 64 * width bytes: ASan reports a
        // read past them.
        for (uint8_t fill : {0x00, 0xFF, 0x80}) {
          Bytes stream = fill == 0 ? Random(rng, 64 * static_cast<size_t>(width))
                                   : Bytes(64 * static_cast<size_t>(width), fill);
          Bytes expected(kBlockValues * C::kBytes, 1), got(expected.size(), 2);
          ScalarBlockKernels<C>().unpackDeltas(stream.data(), width, base, expected.data());
          BlockKernels<C>().unpackDeltas(stream.data(), width, base, got.data());
          ASSERT_EQ(got, expected) << "fill " << int{fill};
        }
      }
    }
  });
}

TYPED_TEST(BlockKernelsTest, InterleavingMatchesTheReference) {
  using C = TypeParam;
  std::mt19937 rng(15);
  ForEachTarget([&] {
    for (size_t channels = 1; channels <= 6; ++channels) {
      Bytes area = Random(rng, channels * kBlockValues * C::kBytes);
      for (size_t frames : kAvailable) {
        SCOPED_TRACE(std::to_string(channels) + " channels, " + std::to_string(frames) + " frames");
        // Exactly the frames asked for: ASan reports a write past them.
        Bytes expected(frames * channels * C::kBytes, 1), got(expected.size(), 2);
        ScalarBlockKernels<C>().interleave(area.data(), channels, frames, expected.data());
        BlockKernels<C>().interleave(area.data(), channels, frames, got.data());
        ASSERT_EQ(got, expected);
      }
    }
  });
}

// A block's channel blocks for the decoding kernel, each payload exactly as long as it reads:
// `kinds` holds a field width (0 to the container's) per channel, or kPlainBlock.
constexpr int kPlainBlock = -1;

struct TBlockPayloads {
  std::vector<Bytes> payloads;
  std::vector<TChannelPayload> channels;
};

template <class C>
TBlockPayloads MakeBlock(std::mt19937& rng, const std::vector<int>& kinds, uint8_t fill) {
  TBlockPayloads block;
  const int32_t bases[] = {0, -1, INT32_MIN, INT32_MAX, static_cast<int32_t>(C::kMask >> 1)};
  for (size_t ch = 0; ch < kinds.size(); ++ch) {
    const bool delta = kinds[ch] != kPlainBlock;
    const size_t bytes = delta ? 64 * static_cast<size_t>(kinds[ch]) : kBlockValues * C::kBytes;
    block.payloads.push_back(fill == 0 ? Random(rng, bytes) : Bytes(bytes, fill));
    const int32_t base = ch < std::size(bases) ? bases[(ch + kinds.size()) % std::size(bases)]
                                               : static_cast<int32_t>(rng());
    block.channels.push_back(
        {block.payloads.back().data(), delta ? kinds[ch] : C::kBits, delta, base});
  }
  return block;
}

TYPED_TEST(BlockKernelsTest, DecodingABlockMatchesTheReference) {
  using C = TypeParam;
  std::mt19937 rng(17);
  // Every width against itself, another and a plain block in stereo, as they are and as a
  // sum/difference pair (random fields, all -1, all the most negative step: sums that wrap),
  // then 1 to 6 channels of mixed kinds for every frame count of a block's tail.
  struct TCase {
    std::vector<int> kinds;
    bool sumDifference;
    size_t frames;
    uint8_t fill;
  };
  std::vector<TCase> cases;
  for (int width = kPlainBlock; width <= C::kBits; ++width) {
    for (int other : {width, (width + 7) % (C::kBits + 1), kPlainBlock}) {
      const auto fill = static_cast<uint8_t>(std::array{0x00, 0xFF, 0x80}[(width + 1) % 3]);
      for (bool sumDifference : {false, true}) {
        for (size_t frames : {size_t{512}, size_t{511}, size_t{0}}) {
          cases.push_back({{width, other}, sumDifference, frames, fill});
        }
      }
    }
  }
  const int kinds[] = {kPlainBlock, 3, C::kBits, 1, C::kBits - 1, 0, 7};
  for (size_t channels = 1; channels <= 6; ++channels) {
    for (size_t frames : kAvailable) {
      std::vector<int> mixed;
      for (size_t ch = 0; ch < channels; ++ch) mixed.push_back(kinds[(ch + frames) % 7]);
      cases.push_back({mixed, false, frames, 0});
    }
  }
  ForEachTarget([&] {
    for (const TCase& c : cases) {
      std::string kindsText;
      for (int kind : c.kinds)
        kindsText += (kind == kPlainBlock ? "plain" : std::to_string(kind)) + " ";
      SCOPED_TRACE("kinds " + kindsText + (c.sumDifference ? "sum/difference, " : "") +
                   std::to_string(c.frames) + " frames, fill " + std::to_string(c.fill));
      const TBlockPayloads block = MakeBlock<C>(rng, c.kinds, c.fill);
      const size_t channels = c.kinds.size();
      // Exactly the frames asked for: ASan reports a write past them.
      Bytes area(channels * kBlockValues * C::kBytes);
      Bytes expected(c.frames * channels * C::kBytes, 1), got(expected.size(), 2);
      ScalarBlockKernels<C>().decodeBlock(block.channels.data(), channels, c.sumDifference,
                                          c.frames, area.data(), expected.data());
      BlockKernels<C>().decodeBlock(block.channels.data(), channels, c.sumDifference, c.frames,
                                    area.data(), got.data());
      ASSERT_EQ(got, expected);
    }
  });
}

TYPED_TEST(BlockKernelsTest, PackedDifferencesUnpackToTheSamples) {
  using C = TypeParam;
  std::mt19937 rng(16);
  const std::vector<Block<C>> blocks = SampleBlocks<C>(rng);
  ForEachTarget([&] {
    const TBlockKernels<C>& kernels = BlockKernels<C>();
    std::vector<Bytes> streams;
    std::vector<int> widths;
    for (size_t b = 0; b < blocks.size(); ++b) {
      SCOPED_TRACE("block " + std::to_string(b));
      Block<C> deltas(kBlockValues);
      uint32_t magnitudes = kernels.makeDeltas(blocks[b].data(), deltas.data());
      const int width = std::max(2, static_cast<int>(std::bit_width(magnitudes)) + 1);
      ASSERT_LE(width, C::kBits);
      Bytes stream(64 * static_cast<size_t>(width));
      kernels.packFields(deltas.data(), width, stream.data());
      Bytes samples(kBlockValues * C::kBytes);
      kernels.unpackDeltas(stream.data(), width, blocks[b][0], samples.data());
      for (int i = 0; i < kBlockValues; ++i) {
        ASSERT_EQ(C::LoadSigned(samples.data() + i * C::kBytes), blocks[b][i]) << "sample " << i;
      }
      streams.push_back(std::move(stream));
      widths.push_back(width);
    }
    // Neighbouring blocks as the two channels of a stereo block: the frames hold both.
    for (size_t b = 0; b + 1 < blocks.size(); ++b) {
      SCOPED_TRACE("blocks " + std::to_string(b) + " and " + std::to_string(b + 1));
      const TChannelPayload channels[2] = {
          {streams[b].data(), widths[b], true, blocks[b][0]},
          {streams[b + 1].data(), widths[b + 1], true, blocks[b + 1][0]}};
      Bytes area(2 * kBlockValues * C::kBytes), frames(2 * kBlockValues * C::kBytes);
      kernels.decodeBlock(channels, 2, false, kBlockValues, area.data(), frames.data());
      for (int i = 0; i < kBlockValues; ++i) {
        ASSERT_EQ(C::LoadSigned(frames.data() + 2 * i * C::kBytes), blocks[b][i]) << "frame " << i;
        ASSERT_EQ(C::LoadSigned(frames.data() + (2 * i + 1) * C::kBytes), blocks[b + 1][i])
            << "frame " << i;
      }
    }
  });
}

TEST(BlockKernels, TheBestInstructionSetIsChosenAndEachCanBeForced) {
  const std::vector<TKernelTarget> targets = KernelTargets();
  ASSERT_FALSE(targets.empty());
  EXPECT_EQ(CurrentKernelTarget(), targets.front().name);
  for (const TKernelTarget& target : targets) {
    TForcedKernels forced(target.id);
    EXPECT_EQ(CurrentKernelTarget(), target.name);
    // A vector instruction set runs its own kernels, not the reference under another name.
    const bool vector = target.name != "SCALAR";
    EXPECT_EQ(&BlockKernels<TSample16>() != &ScalarBlockKernels<TSample16>(), vector);
  }
  {
    TForcedKernels reference(kReferenceKernels);
    EXPECT_EQ(&BlockKernels<TSample24>(), &ScalarBlockKernels<TSample24>());
  }
  EXPECT_EQ(CurrentKernelTarget(), targets.front().name);
}

}  // namespace
}  // namespace tarvix
