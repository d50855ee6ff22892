// The reader against files written by another program.
#include <gtest/gtest.h>

#include "support/Sox.h"
#include "support/TempDir.h"
#include "wav/WAVParser3.h"

namespace tarvix {
namespace {

struct SoxCase {
  int bits;
  int channels;
  const char* type;
  bool extensible;
};

class WavRealFiles : public ::testing::TestWithParam<SoxCase> {};

TEST_P(WavRealFiles, ParsesAndReadsTheSamplesSoxWrote) {
  if (test::FindProgram("sox").empty()) GTEST_SKIP() << "sox is not installed";
  const SoxCase c = GetParam();
  test::TTempDir dir;
  std::string name = dir / "real.wav";
  ASSERT_TRUE(test::MakeSoxWav(name, c.bits, c.channels, 22050, 0.3, c.type));
  TWavParser wav;
  ASSERT_TRUE(wav.OpenFile(name));
  ASSERT_TRUE(wav.ParseHeader()) << wav.fErrorText;
  EXPECT_EQ(wav.fExtensible, c.extensible);
  TStreamDescription stream = wav.StreamDescription();
  EXPECT_EQ(stream.nChannels, c.channels);
  EXPECT_EQ(stream.wBitsPerSample, c.bits);
  EXPECT_EQ(stream.nSamplesPerSec, 22050u);
  EXPECT_EQ(stream.fFrameCount, 6615u);
  std::string data(size_t{stream.fFrameCount} * c.channels * c.bits / 8, '\0');
  ASSERT_TRUE(wav.ReadData(reinterpret_cast<uint8_t*>(data.data()), data.size()));
  EXPECT_EQ(data, test::SoxRawSamples(name));
}

INSTANTIATE_TEST_SUITE_P(
    Sox, WavRealFiles,
    ::testing::Values(SoxCase{8, 1, "wavpcm", false}, SoxCase{8, 2, "wavpcm", false},
                      SoxCase{16, 1, "wavpcm", false}, SoxCase{16, 2, "wavpcm", false},
                      SoxCase{24, 1, "wavpcm", false}, SoxCase{24, 2, "wavpcm", false},
                      SoxCase{24, 1, "wav", true}, SoxCase{24, 2, "wav", true}));

}  // namespace
}  // namespace tarvix
