// Crafted, damaged and special inputs, run through the program with its address space limited
// to 512 MiB: each ends quickly with a clear message and a non-zero status, and leaves no
// temporary file behind.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <random>

#include "support/Fixtures.h"
#include "support/NcwCodec.h"
#include "support/ProcessHarness.h"

namespace tarvix {
namespace {

using test::Bytes;
using test::TNcwImage;
using test::TWavImage;

struct HostileCase {
  std::string name;
  std::function<void(const test::TTempDir&)> make;  // writes the inputs
  std::vector<std::string> args;
  std::string message;                      // expected in standard output or standard error
  std::vector<std::string> converted = {};  // outputs of the good sources beside the bad ones
};

Bytes Prefix(const Bytes& bytes, size_t length) {
  return Bytes(bytes.begin(), bytes.begin() + static_cast<long>(length));
}

TNcwImage NcwWithOneBlock() {
  TNcwImage image;
  image.header.Channels = 2;
  image.header.NumSamples = 512;
  image.blocks = {{test::PlainChannelBlock(16, std::vector<int64_t>(512, 9)),
                   test::DeltaChannelBlock(4, 1, {1, -1})}};
  return image;
}

std::vector<HostileCase> Cases() {
  std::vector<HostileCase> cases;
  auto wavCase = [&](std::string name, Bytes bytes, std::string message) {
    cases.push_back({name,
                     [bytes](const test::TTempDir& d) { d.WriteFile("x.wav", bytes); },
                     {"x.wav"},
                     message});
  };
  auto ncwCase = [&](std::string name, Bytes bytes, std::string message) {
    cases.push_back({name,
                     [bytes](const test::TTempDir& d) { d.WriteFile("x.ncw", bytes); },
                     {"x.ncw"},
                     message});
  };

  // WAV files.
  // A WAV file that claims more data than it holds is read as far as it goes (the reader's
  // tests): only a file cut inside its header is refused.
  wavCase("empty WAV file", {}, "WAVPARSER: Wrong format or bad file header (RIFF)");
  TWavImage good;
  good.data.assign(400, 7);
  Bytes goodWav = good.Build();
  for (auto [cut, message] : std::initializer_list<std::pair<size_t, const char*>>{
           {4, "Wrong file size or bad header"},
           {8, "Wrong file size or bad header"},
           {12, "Wrong format or bad file header (fmt )"},
           {16, "Wrong format or bad file header (fmt )"},
           {20, "Wrong file size or bad header"},
           {30, "Wrong file size or bad header"},
           {36, "No data chunk found"},
           {40, "No data chunk found"}}) {
    wavCase("WAV cut after " + std::to_string(cut) + " bytes", Prefix(goodWav, cut),
            "WAVPARSER: " + std::string(message));
  }
  TWavImage farChunk;
  farChunk.chunksBeforeData = {{"LIST", Bytes(2)}};
  Bytes far = farChunk.Build();
  far[36 + 4] = 0xF0, far[36 + 5] = 0xFF, far[36 + 6] = 0xFF, far[36 + 7] = 0x7F;
  wavCase("WAV chunk size pointing far past the end", far, "WAVPARSER: No data chunk found");
  TWavImage manyChunks;
  manyChunks.hasDataChunk = false;
  for (int i = 0; i < 20000; ++i) manyChunks.chunksBeforeData.push_back({"junk", {}});
  wavCase("WAV of 20000 empty chunks", manyChunks.Build(), "WAVPARSER: No data chunk found");

  // NCW files.
  Bytes goodNcw = NcwWithOneBlock().Build();  // 120 + 8 + (16 + 1024) + (16 + 256)
  ncwCase("empty NCW file", {},
          "  ERROR: x.ncw is not a correct NCW file\n  NCWPARSER: Wrong file signature\n");
  for (auto [cut, damage] : std::initializer_list<std::pair<size_t, const char*>>{
           {60, "header"},
           {124, "block table"},
           {128 + 8, "block 0, channel 0"},
           {128 + 100, "block 0, channel 0"},
           {128 + 1040 + 3, "block 0, channel 1"},
           {goodNcw.size() - 1, "block 0, channel 1"}}) {
    ncwCase("NCW cut in the " + std::string(damage) + " at " + std::to_string(cut),
            Prefix(goodNcw, cut),
            "  NCWPARSER: NCW file is cut short (" + std::string(damage) + ")\n");
  }
  TNcwImage huge = NcwWithOneBlock();
  huge.header.NumSamples = 0x7FFFFFFF;
  ncwCase("NCW whose samples exceed a WAV file", huge.Build(),
          "its samples would not fit the 4 GiB of a WAV file");
  TNcwImage farTable = NcwWithOneBlock();
  farTable.dataOffset = 0xFFFFFFF0u;
  ncwCase("NCW block table past the end", farTable.Build(), "NCW file is cut short (block table)");
  TNcwImage backwards = NcwWithOneBlock();
  backwards.dataOffset = 4;
  ncwCase("NCW data before its table", backwards.Build(),
          "DataOffset lies before BlockTableOffset");
  TNcwImage wide = NcwWithOneBlock();
  wide.blocks[0][1].header.Bits = 40;
  ncwCase("NCW field width 40", wide.Build(), "field width 40");
  TNcwImage mono = NcwWithOneBlock();
  mono.header.Channels = 1;
  mono.blocks[0].pop_back();
  mono.blocks[0][0].header.ChannelMode = 1;
  ncwCase("NCW sum/difference in mono", mono.Build(), "sum/difference block 0");
  TNcwImage wideFrame = NcwWithOneBlock();
  wideFrame.header.Channels = 65535;
  ncwCase("NCW of 65535 channels", wideFrame.Build(), "do not fit a WAV frame");
  TNcwImage farBlock = NcwWithOneBlock();
  farBlock.table = std::vector<int32_t>{0x7FFFFF00, 0x7FFFFFFF};
  ncwCase("NCW block far past the end", farBlock.Build(), "cut short (block 0, channel 0)");

  // Things that are no regular files.
  cases.push_back({"a FIFO as WAV source",
                   [](const test::TTempDir& d) { ::mkfifo((d / "f.wav").c_str(), 0600); },
                   {"f.wav"},
                   "WAVPARSER: File not opened (not a regular file)"});
  cases.push_back({"a FIFO as NCW source",
                   [](const test::TTempDir& d) { ::mkfifo((d / "f.ncw").c_str(), 0600); },
                   {"f.ncw"},
                   "NCWPARSER: Can't open file (not a regular file)"});
  cases.push_back({"a device behind a WAV name",
                   [](const test::TTempDir& d) { ::symlink("/dev/zero", (d / "z.wav").c_str()); },
                   {"z.wav"},
                   "WAVPARSER: File not opened (not a regular file)"});
  cases.push_back({"a directory among the sources",
                   [](const test::TTempDir& d) {
                     test::WriteWav(d, "a.wav");
                     d.MakeDir("d.wav");
                   },
                   {"a.wav", "d.wav"},
                   "ERROR: 'd.wav' doesn't exist.  skipped",
                   {"a.ncw"}});
  cases.push_back({"a binary list file",
                   [](const test::TTempDir& d) {
                     std::mt19937 rng(5);
                     Bytes noise(100000);
                     for (uint8_t& b : noise) b = static_cast<uint8_t>(rng());
                     d.WriteFile("list.bin", noise);
                   },
                   {"-l", "list.bin"},
                   "ERROR: List file must"});
  return cases;
}

TEST(HostileInput, EveryCaseEndsQuicklyWithAMessageAndLeavesNothing) {
  int tried = 0;
  for (const HostileCase& c : Cases()) {
    SCOPED_TRACE(c.name);
    test::TTempDir dir;
    c.make(dir);
    std::vector<std::string> before = dir.List();
    before.insert(before.end(), c.converted.begin(), c.converted.end());
    std::sort(before.begin(), before.end());
    test::TProcessOptions options;
    options.workingDirectory = dir.Path();
    options.limits = {{RLIMIT_AS, 512u << 20}};
    options.timeoutSeconds = 10;
    test::TProcessResult result = test::RunProcess(test::PlainTarvixBinary(), c.args, options);
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.termSignal, 0);
    EXPECT_NE(result.exitCode, 0);
    EXPECT_NE((result.out + result.err).find(c.message), std::string::npos)
        << "out: " << result.out << "\nerr: " << result.err;
    EXPECT_EQ(dir.List(), before);  // no output, no temporary file
    ++tried;
  }
  std::printf("hostile inputs tried: %d\n", tried);
}

// More frames than its blocks hold: the rest are zeros, as the format says. Streamed, this
// takes no more memory than any other file, far below the address-space limit.
TEST(HostileInput, FramesBeyondTheBlocksBecomeZerosWithinTheMemoryLimit) {
  test::TTempDir dir;
  TNcwImage large = NcwWithOneBlock();
  large.header.NumSamples = 200'000'000;  // 800 MB of samples
  dir.WriteFile("x.ncw", large.Build());
  test::TProcessOptions options;
  options.workingDirectory = dir.Path();
  options.limits = {{RLIMIT_AS, 512u << 20}};
  test::TProcessResult result = test::RunProcess(test::PlainTarvixBinary(), {"x.ncw"}, options);
  ASSERT_EQ(result.exitCode, 0) << result.out << result.err;
  struct stat info;
  ASSERT_EQ(::stat((dir / "x.wav").c_str(), &info), 0);
  EXPECT_EQ(info.st_size, 44 + 800'000'000);
  Bytes start(44 + 8 * 512);
  std::ifstream file(dir / "x.wav", std::ios::binary);
  ASSERT_TRUE(file.read(reinterpret_cast<char*>(start.data()), static_cast<long>(start.size())));
  // The block's first frame is (9, 1), its last frame has channel 1 at 1 + 1 - 1 = 1, and the
  // frame after the block is silence.
  EXPECT_EQ(test::SignedSamples(16, Bytes(start.begin() + 44, start.begin() + 48)),
            (std::vector<int64_t>{9, 1}));
  EXPECT_EQ(
      test::SignedSamples(16, Bytes(start.begin() + 44 + 4 * 512, start.begin() + 48 + 4 * 512)),
      (std::vector<int64_t>{0, 0}));
}

}  // namespace
}  // namespace tarvix
