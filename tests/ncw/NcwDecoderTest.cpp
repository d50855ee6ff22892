// Reading NCW files: everything the format allows decodes to exactly its samples; what it does
// not allow, or a damaged file, is refused before samples are allocated.
#include <gtest/gtest.h>

#include <random>

#include "bits/BlockKernels.h"
#include "platform/Errors.h"
#include "support/NcwCodec.h"
#include "support/TempDir.h"
#include "support/WholeFiles.h"
#include "wav/WavWriter.h"

namespace tarvix {
namespace {

using test::Bytes;
using test::TNcwImage;
using Samples = std::vector<int64_t>;

Samples RandomWalk(std::mt19937& rng, int bits, size_t count, int maxStep) {
  std::uniform_int_distribution<int64_t> step(-maxStep, maxStep);
  Samples samples;
  int64_t value = 0;
  int shift = 64 - bits;
  for (size_t i = 0; i < count; ++i) {
    // Big jumps now and then give plain blocks among the delta ones.
    value += (i % 700 == 699) ? static_cast<int64_t>(rng()) : step(rng);
    samples.push_back(static_cast<int64_t>(static_cast<uint64_t>(value) << shift) >> shift);
  }
  return samples;
}

struct RoundTripCase {
  int bits;
  int channels;
};

class NcwRoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(NcwRoundTrip, SamplesComeBackExactlyThroughAFile) {
  const RoundTripCase c = GetParam();
  std::mt19937 rng(static_cast<unsigned>(c.bits * 10 + c.channels));
  for (size_t frames : {0, 1, 511, 512, 513, 5000}) {
    SCOPED_TRACE(frames);
    for (int maxStep : {0, 3, 1000, 1 << 30}) {
      Samples samples = RandomWalk(rng, c.bits, frames * static_cast<size_t>(c.channels), maxStep);
      Bytes file = test::EncodeToNcwBytes(c.bits, c.channels, samples, 96000);
      TNcwReader decoded;
      ASSERT_EQ(test::DecodeNcwBytes(file, &decoded), samples) << "max step " << maxStep;
      EXPECT_EQ(decoded.Header.SampleRate, 96000u);
      EXPECT_EQ(decoded.Header.Channels, c.channels);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(WidthsAndChannels, NcwRoundTrip,
                         ::testing::Values(RoundTripCase{8, 1}, RoundTripCase{8, 2},
                                           RoundTripCase{16, 1}, RoundTripCase{16, 2},
                                           RoundTripCase{24, 1}, RoundTripCase{24, 2},
                                           RoundTripCase{32, 1}, RoundTripCase{32, 2},
                                           RoundTripCase{16, 3}, RoundTripCase{24, 6},
                                           RoundTripCase{8, 4}, RoundTripCase{32, 5},
                                           RoundTripCase{8, 7}));

// Every instruction set the kernels are built for writes the bytes of the scalar reference and
// reads them back alike: every container, 1 to 6 channels, a cut last block, steps of every size.
TEST(NcwRoundTrip, EveryInstructionSetWritesAndReadsTheReferenceBytes) {
  std::mt19937 rng(77);
  for (int bits : {8, 16, 24, 32}) {
    for (int channels = 1; channels <= 6; ++channels) {
      for (int maxStep : {1, 100, 1 << (bits - 2)}) {
        SCOPED_TRACE(std::to_string(bits) + " bits, " + std::to_string(channels) +
                     " channels, max step " + std::to_string(maxStep));
        Samples samples = RandomWalk(rng, bits, 1500 * static_cast<size_t>(channels), maxStep);
        Bytes reference;
        {
          TForcedKernels forced(kReferenceKernels);
          reference = test::EncodeToNcwBytes(bits, channels, samples);
          ASSERT_EQ(test::DecodeNcwBytes(reference), samples);
        }
        for (const TKernelTarget& target : KernelTargets()) {
          SCOPED_TRACE("target " + target.name);
          TForcedKernels forced(target.id);
          ASSERT_EQ(test::EncodeToNcwBytes(bits, channels, samples), reference);
          ASSERT_EQ(test::DecodeNcwBytes(reference), samples);
        }
      }
    }
  }
}

TEST(NcwRoundTrip, OpenReadsTheFileFromDisk) {
  test::TTempDir dir;
  Samples samples = {1, -2, 3, -4, 5, -6};
  dir.WriteFile("x.ncw", test::EncodeToNcwBytes(24, 2, samples));
  TNcwReader reader;
  reader.Open(dir / "x.ncw");
  EXPECT_EQ(test::SignedSamples(24, test::DecodedSampleBytes(reader)), samples);
}

// ---- Files only a reader meets ----

TNcwImage Image(int bits, int channels, uint32_t frames) {
  TNcwImage image;
  image.header.BitsPerSample = static_cast<uint16_t>(bits);
  image.header.Channels = static_cast<uint16_t>(channels);
  image.header.NumSamples = frames;
  return image;
}

Samples Frames(const Samples& decoded, int channels, size_t frame) {
  return Samples(decoded.begin() + static_cast<long>(frame * channels),
                 decoded.begin() + static_cast<long>((frame + 1) * channels));
}

TEST(NcwDecoder, SumDifferencePairsDecodeFromTheLastChannelBlocksMode) {
  TNcwImage pair = Image(16, 2, 512);
  pair.blocks = {{test::PlainChannelBlock(16, Samples(512, 10)),
                  test::PlainChannelBlock(16, Samples(512, 3), /*channelMode=*/1)}};
  Samples decoded = test::DecodeNcwBytes(pair.Build());
  EXPECT_EQ(Frames(decoded, 2, 0), (Samples{13, 7}));
  EXPECT_EQ(Frames(decoded, 2, 511), (Samples{13, 7}));

  TNcwImage eightBit = Image(8, 2, 1);
  eightBit.blocks = {{test::PlainChannelBlock(8, Samples(512, 200)),
                      test::PlainChannelBlock(8, Samples(512, 100), 1)}};
  Samples bytes = test::DecodeNcwBytes(eightBit.Build());
  EXPECT_EQ(static_cast<uint8_t>(bytes[0]), 44);  // 300 mod 256
  EXPECT_EQ(static_cast<uint8_t>(bytes[1]), 100);

  TNcwImage firstOnly = Image(16, 2, 1);
  firstOnly.blocks = {{test::PlainChannelBlock(16, Samples(512, 10), 1),
                       test::PlainChannelBlock(16, Samples(512, 3), 0)}};
  EXPECT_EQ(test::DecodeNcwBytes(firstOnly.Build()), (Samples{10, 3}));

  TNcwImage wrap24 = Image(24, 2, 1);
  wrap24.blocks = {{test::PlainChannelBlock(24, Samples(512, 8388607)),
                    test::PlainChannelBlock(24, Samples(512, 1), 1)}};
  EXPECT_EQ(test::DecodeNcwBytes(wrap24.Build()), (Samples{-8388608, 8388606}));
}

TEST(NcwDecoder, BitsZeroIsAPlainBlockOfTheFullWidth) {
  TNcwImage image = Image(24, 1, 3);
  test::TChannelBlockImage block = test::PlainChannelBlock(24, Samples{-1, 2, -3});
  block.header.Bits = 0;
  image.blocks = {{block}};
  EXPECT_EQ(test::DecodeNcwBytes(image.Build()), (Samples{-1, 2, -3}));
}

TEST(NcwDecoder, DeltaBlocksAccumulateFromTheBaseWithWraparound) {
  TNcwImage image = Image(16, 1, 4);
  image.blocks = {{test::DeltaChannelBlock(3, 32766, {1, 1, -3})}};
  EXPECT_EQ(test::DecodeNcwBytes(image.Build()), (Samples{32766, 32767, -32768, 32765}));
  TNcwImage widest = Image(16, 1, 2);  // a delta block at the full width is read as well
  widest.blocks = {{test::DeltaChannelBlock(16, 0, {-32768})}};
  EXPECT_EQ(test::DecodeNcwBytes(widest.Build()), (Samples{0, -32768}));
}

TEST(NcwDecoder, TheOldSignatureReadsLikeTheCurrentOne) {
  TNcwImage image = Image(16, 1, 2);
  image.header.Signature[4] = 0x30;
  image.blocks = {{test::PlainChannelBlock(16, Samples{7, 8})}};
  EXPECT_EQ(test::DecodeNcwBytes(image.Build()), (Samples{7, 8}));
}

TEST(NcwDecoder, NumSamplesDecidesHowManyFramesComeOut) {
  TNcwImage thousand = Image(16, 1, 1000);
  Samples second(512, 0);
  for (size_t i = 0; i < 512; ++i) second[i] = static_cast<int64_t>(i);
  thousand.blocks = {{test::PlainChannelBlock(16, Samples(512, 5))},
                     {test::PlainChannelBlock(16, second)}};
  Samples decoded = test::DecodeNcwBytes(thousand.Build());
  ASSERT_EQ(decoded.size(), 1000u);
  EXPECT_EQ(decoded[999], 487);  // the last 24 frames of the second block are dropped

  TNcwImage uncovered = Image(16, 2, 600);  // one block for 600 frames: the rest stays zero
  uncovered.blocks = {{test::PlainChannelBlock(16, Samples(512, -1)),
                       test::PlainChannelBlock(16, Samples(512, 1))}};
  decoded = test::DecodeNcwBytes(uncovered.Build());
  ASSERT_EQ(decoded.size(), 1200u);
  EXPECT_EQ(Frames(decoded, 2, 511), (Samples{-1, 1}));
  EXPECT_EQ(Frames(decoded, 2, 512), (Samples{0, 0}));
  EXPECT_EQ(Frames(decoded, 2, 599), (Samples{0, 0}));

  TNcwImage moreBlocks = Image(16, 1, 2);  // blocks past NumSamples are never read
  moreBlocks.blocks = {{test::PlainChannelBlock(16, {4, 5})},
                       {test::TChannelBlockImage{{}, {}}}};  // broken, but never reached
  moreBlocks.blocks[1][0].header.Bits = 99;
  EXPECT_EQ(test::DecodeNcwBytes(moreBlocks.Build()), (Samples{4, 5}));

  TNcwImage none = Image(16, 1, 0);
  EXPECT_EQ(test::DecodeNcwBytes(none.Build()), Samples{});
}

TEST(NcwDecoder, UnsupportedWidthDecodesNothing) {
  TNcwImage image = Image(12, 1, 5);
  image.blocks = {{test::PlainChannelBlock(16, Samples(5, 1))}};
  TNcwReader ncw;
  EXPECT_EQ(test::DecodeNcwBytes(image.Build(), &ncw), Samples{});
  EXPECT_EQ(ncw.BlocksToDecode(), 0u);
}

// Decoded into a WAV writer run by run, as the program does: every decoded byte lands behind
// the header of either kind.
TEST(NcwDecoder, DecodedRunsMakeTheWavFileByteForByte) {
  std::mt19937 rng(11);
  Samples samples = RandomWalk(rng, 24, 2000, 100000);
  Bytes ncwFile = test::EncodeToNcwBytes(24, 2, samples, 48000);
  TNcwReader ncw;
  test::DecodeNcwBytes(ncwFile, &ncw);
  Bytes files[2];
  for (bool extensible : {false, true}) {
    TMemorySink sink;
    TWavWriter wav({ncw.Header.Channels, ncw.Header.SampleRate, ncw.Header.BitsPerSample,
                    ncw.Header.NumSamples, extensible},
                   sink);
    DecodeNcw(ncw, sink, wav.HeaderBytes());
    wav.Finish(0);
    files[extensible ? 1 : 0] = sink.Bytes();
  }
  const Bytes& standard = files[0];
  const Bytes& extended = files[1];
  ASSERT_EQ(standard.size(), 44u + 6000);
  ASSERT_EQ(extended.size(), 68u + 6000);
  Bytes pcm = test::SampleBytes(24, samples);
  EXPECT_EQ(Bytes(standard.begin() + 44, standard.end()), pcm);
  EXPECT_EQ(Bytes(extended.begin() + 68, extended.end()), pcm);
  EXPECT_EQ(standard[22], 2);  // channels
  EXPECT_EQ(standard[32], 6);  // block align
}

// ---- Refusals ----

struct RefusedCase {
  std::string name;
  Bytes file;
  std::string message;
};

Bytes Cut(Bytes bytes, size_t length) {
  bytes.resize(length);
  return bytes;
}

std::vector<RefusedCase> RefusedFiles() {
  std::vector<RefusedCase> cases;
  TNcwImage good = Image(16, 2, 1024);
  good.blocks = {{test::PlainChannelBlock(16, Samples(512, 1)), test::DeltaChannelBlock(5, 0, {})},
                 {test::DeltaChannelBlock(3, 0, {}), test::DeltaChannelBlock(3, 0, {})}};
  Bytes goodBytes = good.Build();  // 120 + 12 + (16+1024 + 16+320) + (16+192)*2 bytes

  Bytes badSignature = goodBytes;
  badSignature[3] = 0xD7;
  cases.push_back({"a wrong signature byte", badSignature, "Wrong file signature"});
  cases.push_back({"an empty file", {}, "Wrong file signature"});
  cases.push_back({"a file of 3 bytes", Cut(goodBytes, 3), "Wrong file signature"});
  cases.push_back({"a file of 7 bytes", Cut(goodBytes, 7), "NCW file is cut short (header)"});
  cases.push_back({"a header cut short", Cut(goodBytes, 119), "NCW file is cut short (header)"});
  cases.push_back(
      {"a block table cut short", Cut(goodBytes, 131), "NCW file is cut short (block table)"});
  cases.push_back({"a channel block header cut short", Cut(goodBytes, 132 + 1040 + 15),
                   "NCW file is cut short (block 0, channel 1)"});
  cases.push_back({"a payload cut short", Cut(goodBytes, goodBytes.size() - 1),
                   "NCW file is cut short (block 1, channel 1)"});

  TNcwImage pastEnd = good;
  pastEnd.table = std::vector<int32_t>{0, 100000, 100208};
  cases.push_back(
      {"a block beyond the end", pastEnd.Build(), "NCW file is cut short (block 1, channel 0)"});
  TNcwImage negative = good;
  negative.table = std::vector<int32_t>{0, -16, 100};
  cases.push_back({"a negative table entry", negative.Build(),
                   "Damaged NCW file: bad block table entry for block 1"});
  TNcwImage hugeTable = good;
  hugeTable.dataOffset = 0xFFFFFFF0u;
  cases.push_back({"a block table reaching past the end", hugeTable.Build(),
                   "NCW file is cut short (block table)"});
  TNcwImage backwards = good;
  backwards.dataOffset = 100;
  cases.push_back({"DataOffset before BlockTableOffset", backwards.Build(),
                   "Unsupported NCW file: DataOffset lies before BlockTableOffset"});

  TNcwImage tooWide = Image(16, 1, 1);
  tooWide.blocks = {{test::DeltaChannelBlock(17, 0, {})}};
  cases.push_back({"a delta width above BitsPerSample", tooWide.Build(),
                   "Unsupported NCW file: field width 17 in block 0, channel 0 exceeds "
                   "BitsPerSample 16"});
  TNcwImage tooNegative = Image(8, 1, 1);
  tooNegative.blocks = {{test::PlainChannelBlock(16, {1})}};
  cases.push_back({"a plain width above BitsPerSample", tooNegative.Build(),
                   "Unsupported NCW file: field width -16 in block 0, channel 0 exceeds "
                   "BitsPerSample 8"});
  TNcwImage narrowPlain = Image(16, 1, 1);
  narrowPlain.blocks = {{test::PlainChannelBlock(8, {1})}};
  cases.push_back({"a plain block narrower than the samples", narrowPlain.Build(),
                   "Unsupported NCW file: plain block of 8 bits in block 0, channel 0 of a "
                   "16-bit file"});
  TNcwImage monoPair = Image(16, 1, 1);
  monoPair.blocks = {{test::PlainChannelBlock(16, {1}, 1)}};
  cases.push_back({"a sum/difference block in mono", monoPair.Build(),
                   "Unsupported NCW file: sum/difference block 0 in a file of 1 channels"});
  TNcwImage triplePair = Image(16, 3, 1);
  triplePair.blocks = {{test::PlainChannelBlock(16, {1}), test::PlainChannelBlock(16, {1}),
                        test::PlainChannelBlock(16, {1}, 1)}};
  cases.push_back({"a sum/difference block with three channels", triplePair.Build(),
                   "Unsupported NCW file: sum/difference block 0 in a file of 3 channels"});
  TNcwImage noChannels = Image(16, 0, 1);
  cases.push_back({"no channels", noChannels.Build(), "Unsupported NCW file: no channels"});
  TNcwImage wideFrame = Image(32, 16384, 1);
  cases.push_back({"a frame wider than a WAV frame", wideFrame.Build(),
                   "Unsupported NCW file: 16384 channels of 32 bits do not fit a WAV frame"});
  TNcwImage huge = Image(24, 2, 0x30000000);
  cases.push_back({"samples beyond a WAV file's 4 GiB", huge.Build(),
                   "Unsupported NCW file: its samples would not fit the 4 GiB of a WAV file"});
  return cases;
}

TEST(NcwDecoder, HostileAndDamagedFilesAreRefusedWithTheirReason) {
  for (const RefusedCase& c : RefusedFiles()) {
    SCOPED_TRACE(c.name);
    TNcwReader ncw;
    try {
      OpenNcwBytes(ncw, c.file, "bad.ncw");
      test::DecodedSampleBytes(ncw);
      FAIL() << "accepted";
    } catch (const TError& error) {
      EXPECT_EQ(error.Message(), c.message);
      EXPECT_EQ(error.FileName(), "bad.ncw");
    }
  }
}

TEST(NcwDecoder, LargestWavSizeIsStillAccepted) {
  // 0x3FFFFFF0 frames of 32-bit mono: 4 GiB - 64 bytes of samples, just within the limit.
  TNcwImage edge = Image(32, 1, 0x3FFFFFF0);
  Bytes bytes = edge.Build();
  TNcwReader ncw;
  EXPECT_NO_THROW(OpenNcwBytes(ncw, bytes, "edge.ncw"));
  TNcwImage over = Image(32, 1, 0x3FFFFFF1);
  bytes = over.Build();
  EXPECT_THROW(OpenNcwBytes(ncw, bytes, "over.ncw"), TError);
}

TEST(NcwDecoder, OpenFailuresNameTheFileAndTheReason) {
  test::TTempDir dir;
  for (const std::string& name : {dir / "missing.ncw", dir.Path()}) {
    TNcwReader ncw;
    try {
      ncw.Open(name);
      FAIL();
    } catch (const TError& error) {
      EXPECT_EQ(error.Message(), "Can't open file");
      EXPECT_EQ(error.FileName(), name);
      EXPECT_FALSE(error.Reason().empty());
    }
  }
}

}  // namespace
}  // namespace tarvix
