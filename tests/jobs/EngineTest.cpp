// Threads change nothing a user can see: with one thread and with several, the same console
// text, the same outputs under the same names and the same exit status, on trees and lists
// with damaged, missing and refused files mixed in, and with an error that ends the run.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>

#include "frontend/Program.h"
#include "support/CapturedConsole.h"
#include "support/Fixtures.h"
#include "support/NcwCodec.h"

namespace tarvix {
namespace {

namespace fs = std::filesystem;

struct TRunSnapshot {
  std::string out;
  std::string err;
  int exitCode = -1;
  std::map<std::string, test::Bytes> files;  // every file of the folder after the run

  bool operator==(const TRunSnapshot&) const = default;
};

void PrintTo(const TRunSnapshot& run, std::ostream* os) {
  *os << "exit " << run.exitCode << "\nout:\n" << run.out << "err:\n" << run.err << "files:";
  for (const auto& [name, bytes] : run.files) *os << " " << name << " (" << bytes.size() << ")";
}

std::map<std::string, test::Bytes> FilesBelow(const test::TTempDir& dir) {
  std::map<std::string, test::Bytes> files;
  for (const auto& entry : fs::recursive_directory_iterator(dir.Path())) {
    if (entry.is_regular_file()) {
      files[fs::relative(entry.path(), dir.Path()).string()] = test::ReadFileBytes(entry.path());
    }
  }
  return files;
}

using TSetup = std::function<void(const test::TTempDir&)>;

TRunSnapshot RunWithThreads(const TSetup& setup, std::vector<std::string> args, int threads,
                            test::TProcessOptions options = {}) {
  test::TTempDir dir;
  setup(dir);
  args.insert(args.begin(), "-j" + std::to_string(threads));
  // Fails the test on a leftover temporary file.
  test::TProcessResult result = test::RunTarvixIn(dir, args, options);
  return {result.out, result.err, result.exitCode, FilesBelow(dir)};
}

test::Bytes NcwOf(int bits, int channels, size_t frames, unsigned seed) {
  return test::EncodeToNcwBytes(bits, channels, test::SignedSamples(bits, [&] {
                                  test::Bytes wav =
                                      test::MakeWavBytes(bits, channels, 44100, frames, seed);
                                  return test::Bytes(wav.begin() + 44, wav.end());
                                }()));
}

// A library with the awkward cases among ordinary files: large files of several runs, a file
// of no frames, refused and damaged sources, nested and new folders.
void MixedLibrary(const test::TTempDir& dir) {
  for (int i = 0; i < 24; ++i) {
    const int bits = (i % 3 == 0) ? 8 : (i % 3 == 1) ? 16 : 24;
    test::WriteWav(dir, "Lib/Bank" + std::to_string(i % 4) + "/s" + std::to_string(i) + ".wav",
                   bits, 1 + i % 2, 44100, 100 + 997 * static_cast<size_t>(i),
                   static_cast<unsigned>(i));
  }
  test::WriteWav(dir, "Lib/Bank1/long.wav", 16, 2, 44100, 700000, 7);  // several runs
  test::WriteWav(dir, "Lib/Bank2/empty.wav", 16, 1, 44100, 0, 8);
  dir.WriteFile("Lib/Bank0/garbage.wav", "RIFF not really");
  test::TWavImage floating;
  floating.formatTag = 3;
  floating.bitsPerSample = 32;
  floating.data = test::Bytes(800, 1);
  dir.WriteFile("Lib/Bank3/float.wav", floating.Build());
}

TEST(Threads, DirectoryModeLooksTheSameWithAnyNumberOfThreads) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"-w2n", "-rec", "Lib", "Out"}, {"-w2n", "-rec", "Lib"}}) {
    const TRunSnapshot one = RunWithThreads(MixedLibrary, args, 1);
    EXPECT_EQ(one.exitCode, 1);  // the two refused sources
    EXPECT_NE(one.out.find("garbage.wav is not a correct WAV file"), std::string::npos);
    for (int threads : {2, 7}) {
      SCOPED_TRACE(threads);
      EXPECT_EQ(RunWithThreads(MixedLibrary, args, threads), one);
    }
  }
}

// Both directions in one list, missing sources, an output that is the source of a later entry,
// names taken twice (numbered in list order), and a damaged NCW file that ends the run halfway:
// later entries already converted by other threads must not be placed.
void MixedList(const test::TTempDir& dir) {
  test::WriteWav(dir, "a.wav", 16, 2, 44100, 300000, 1);
  test::WriteWav(dir, "b.wav", 24, 1, 48000, 5000, 2);
  dir.WriteFile("c.ncw", NcwOf(16, 2, 200000, 3));
  dir.WriteFile("bad.wav", "RIFF");
  test::Bytes damaged = NcwOf(16, 1, 600000, 4);
  damaged.resize(damaged.size() * 2 / 3);  // cut in a later run of blocks
  dir.WriteFile("damaged.ncw", damaged);
  dir.WriteFile("list.txt",
                "@tarvixlist2\n"
                "a.wav\nout/a.ncw\n"  // the folder is made at its turn
                "missing.wav\nm.ncw\n"
                "out/a.ncw\nback/a.wav\n"  // the output of the first entry
                "b.wav\nout/a.ncw\n"       // numbered: out/a_1.ncw
                "bad.wav\nbad.ncw\n"
                "c.ncw\nc.wav\n"
                "b.wav\nb.ncw\n");
  dir.WriteFile("ends.txt", "@tarvixlist1\nb.wav\nc.ncw\ndamaged.ncw\na.wav\nb.wav\nc.ncw\n");
}

TEST(Threads, ListModeLooksTheSameWithAnyNumberOfThreads) {
  for (const std::vector<std::string>& args : {std::vector<std::string>{"-l", "list.txt"},
                                               {"-rw", "-l", "list.txt"},
                                               {"-skip", "-l", "list.txt"},
                                               {"-l", "ends.txt"}}) {
    SCOPED_TRACE(args[args.size() - 1] + " " + args[0]);
    const TRunSnapshot one = RunWithThreads(MixedList, args, 1);
    for (int threads : {2, 7}) {
      SCOPED_TRACE(threads);
      EXPECT_EQ(RunWithThreads(MixedList, args, threads), one);
    }
  }
  // The damaged NCW file is refused when its damage is met, and the entries after it convert.
  const TRunSnapshot damaged = RunWithThreads(MixedList, {"-l", "ends.txt"}, 4);
  EXPECT_EQ(damaged.exitCode, 1);
  EXPECT_EQ(damaged.err, "");
  EXPECT_NE(damaged.out.find("[3 from 6]  damaged.ncw...\n"
                             "  ERROR: damaged.ncw is not a correct NCW file\n"
                             "  NCWPARSER: NCW file is cut short (block "),
            std::string::npos)
      << damaged.out;
  EXPECT_EQ(damaged.files.count("a.ncw") + damaged.files.count("b_1.ncw") +
                damaged.files.count("c_1.wav"),
            3u);
  EXPECT_EQ(damaged.files.count("damaged.wav"), 0u);
}

// A folder of NCW files with damaged ones among them, damaged in the header, in the table, in
// the first block and in a late run: each is refused at its turn, and the rest convert.
void NcwLibrary(const test::TTempDir& dir) {
  const test::Bytes good = NcwOf(16, 2, 300000, 5);
  for (int i = 0; i < 6; ++i) {
    dir.WriteFile("Ncw/" + std::to_string(i) + "good.ncw",
                  NcwOf(8 + 8 * (i % 3), 1 + i % 2, 1000 + 5000 * static_cast<size_t>(i),
                        static_cast<unsigned>(i)));
  }
  test::Bytes signature = good;
  signature[0] ^= 0xFF;
  dir.WriteFile("Ncw/1signature.ncw", signature);
  dir.WriteFile("Ncw/2table.ncw", test::Bytes(good.begin(), good.begin() + 200));
  test::Bytes firstBlock = good;
  firstBlock[kNcwHeaderBytes + 4 * BlockTableEntries(300000) + 8] = 40;  // its field width
  dir.WriteFile("Ncw/3block.ncw", firstBlock);
  dir.WriteFile("Ncw/4late.ncw", test::Bytes(good.begin(), good.end() - 5000));
}

TEST(Threads, DamagedNcwFilesInAFolderAreRefusedAndTheOthersConvert) {
  const TRunSnapshot one = RunWithThreads(NcwLibrary, {"-n2w", "Ncw", "Wav"}, 1);
  EXPECT_EQ(one.exitCode, 1);
  EXPECT_EQ(one.err, "");
  for (const char* name : {"1signature", "2table", "3block", "4late"}) {
    EXPECT_NE(one.out.find(std::string("  ERROR: Ncw/") + name +
                           ".ncw is not a correct NCW file\n  NCWPARSER: "),
              std::string::npos)
        << name << "\n"
        << one.out;
    EXPECT_EQ(one.files.count(std::string("Wav/") + name + ".wav"), 0u) << name;
  }
  for (int i = 0; i < 6; ++i) {
    const std::string name = std::to_string(i) + "good";
    EXPECT_EQ(one.files.count("Wav/" + name + ".wav"), 1u) << name;
  }
  for (int threads : {2, 7}) {
    SCOPED_TRACE(threads);
    EXPECT_EQ(RunWithThreads(NcwLibrary, {"-n2w", "Ncw", "Wav"}, threads), one);
  }
}

// With only 16 descriptors, eight threads cannot each hold a source and an output of their
// own: what they cannot open now waits for the work in flight, and the user sees nothing of it.
TEST(Threads, FewDescriptorsChangeNothingASingleThreadWouldShow) {
  test::TProcessOptions few;
  few.limits = {{RLIMIT_NOFILE, 16}};
  // Outputs beside their sources: their folders exist, so items start ahead of their turn.
  auto manySmallFiles = [](const test::TTempDir& dir) {
    MixedLibrary(dir);
    for (int i = 0; i < 150; ++i) {
      test::WriteWav(dir, "Lib/Bank" + std::to_string(i % 3) + "/x" + std::to_string(i) + ".wav",
                     16, 2, 44100, 64 + static_cast<size_t>(i), static_cast<unsigned>(i));
    }
  };
  const std::vector<std::pair<TSetup, std::vector<std::string>>> runs = {
      {manySmallFiles, {"-w2n", "-rec", "Lib"}},
      {MixedList, {"-l", "list.txt"}},
      {NcwLibrary, {"-n2w", "Ncw", "Wav"}}};
  for (const auto& [setup, args] : runs) {
    SCOPED_TRACE(args.back());
    const TRunSnapshot one = RunWithThreads(setup, args, 1, few);
    EXPECT_EQ(one.err, "");
    EXPECT_EQ(one.out.find("Too many open files"), std::string::npos) << one.out;
    EXPECT_EQ(RunWithThreads(setup, args, 8, few), one);
  }
}

// A file of 65535 channels, whose every block is a run of its own of 32 MB decoded: the runs in
// flight share one memory budget, so eight threads take about what one does.
TEST(Threads, AFileOfVeryManyChannelsTakesNoMoreMemoryOnMoreThreads) {
  test::TNcwImage image;
  image.header.Channels = 65535;
  image.header.BitsPerSample = 8;
  image.header.NumSamples = 4 * kFramesPerBlock;
  const test::TChannelBlockImage silence = test::DeltaChannelBlock(2, 0, {});
  image.blocks.assign(4, std::vector<test::TChannelBlockImage>(65535, silence));
  const test::Bytes ncw = image.Build();
  auto setup = [&ncw](const test::TTempDir& dir) { dir.WriteFile("wide.ncw", ncw); };
  long peak[2] = {};
  for (int threads : {1, 8}) {
    test::TTempDir dir;
    setup(dir);
    test::TProcessOptions options;
    options.workingDirectory = dir.Path();
    const test::TProcessResult result = test::RunProcess(
        test::PlainTarvixBinary(), {"-j" + std::to_string(threads), "wide.ncw"}, options);
    ASSERT_EQ(result.exitCode, 0) << result.out << result.err;
    EXPECT_EQ(fs::file_size(dir / "wide.wav"), 44u + 65535u * 4 * kFramesPerBlock);
    peak[threads == 1 ? 0 : 1] = result.peakResidentKb;
  }
  EXPECT_GT(peak[0], 32 * 1024);  // the run's own buffers are there to be measured
  EXPECT_LT(peak[1], peak[0] + 16 * 1024) << "-j1: " << peak[0] << " kB";
}

// Each thread costs little address space and every buffer counts against one budget: a file
// converts with 64 threads, -verify too, under the same limit of 512 MiB that one thread needs
// far less than, and the memory it takes is not much more than one thread's. The address space
// is trimmed by calls only Linux has; a build without them keeps the system's defaults (as on
// macOS, which does not enforce such a limit anyway), so only the memory taken is checked there.
TEST(Threads, MemoryDoesNotGrowWithTheThreads) {
  test::TTempDir dir;
  test::WriteWav(dir, "a.wav", 16, 2, 44100, 4'000'000);  // 16 MB: sixteen runs
  ASSERT_EQ(test::RunTarvixIn(dir, {"a.wav", "a.ncw"}).exitCode, 0);
  test::TProcessOptions limited;
  limited.workingDirectory = dir.Path();
  if (TARVIX_TEST_LEAN_THREADS) limited.limits = {{RLIMIT_AS, 512u << 20}};
  for (const std::string source : {"a.wav", "a.ncw"}) {
    const std::string output = source == "a.wav" ? "b.ncw" : "b.wav";
    long oneThread = 0;
    for (const char* threads : {"-j1", "-j16", "-j64"}) {
      for (const bool verify : {false, true}) {
        SCOPED_TRACE(source + " " + threads + (verify ? " -verify" : ""));
        std::vector<std::string> args = {threads, source, output};
        if (verify) args.insert(args.begin(), "-verify");
        fs::remove(dir / output);
        const test::TProcessResult result =
            test::RunProcess(test::PlainTarvixBinary(), args, limited);
        ASSERT_EQ(result.exitCode, 0) << result.out << result.err;
        if (oneThread == 0) oneThread = result.peakResidentKb;
        // Twice one thread's, and the threads' stacks as they are touched.
        EXPECT_LE(result.peakResidentKb, 2 * oneThread + 1024) << "-j1: " << oneThread << " kB";
      }
    }
  }
  EXPECT_EQ(test::WavSampleBytes(dir / "b.wav"), test::WavSampleBytes(dir / "a.wav"));
}

// Several runs resuming one conversion into one destination at once, as several terminals or
// machines would: every output is made once, by one of them, under its own name; a run that
// finds an output made meanwhile by another says it exists, and none fails.
TEST(ConcurrentRuns, OneTreeIntoOneDestinationWithSkip) {
  test::TTempDir dir;
  for (int i = 0; i < 40; ++i) {
    test::WriteWav(dir,
                   "Lib/" + std::to_string(i % 3) + "/" + std::to_string(i % 5) + "/s" +
                       std::to_string(i) + ".wav",
                   16, 1 + i % 2, 44100, 100 + 50 * static_cast<size_t>(i),
                   static_cast<unsigned>(i));
  }
  test::TProcessOptions options;
  options.workingDirectory = dir.Path();
  for (int round = 0; round < 4; ++round) {
    SCOPED_TRACE(round);
    fs::remove_all(dir / "Out");
    std::vector<std::unique_ptr<test::TChildProcess>> runs;
    for (int i = 0; i < 4; ++i) {
      runs.push_back(std::make_unique<test::TChildProcess>(
          test::TarvixBinary(),
          std::vector<std::string>{"-j2", "-skip", "-w2n", "-rec", "Lib", "Out"}, options));
    }
    for (std::unique_ptr<test::TChildProcess>& run : runs) {
      const test::TProcessResult result = run->Wait();
      EXPECT_EQ(result.termSignal, 0);
      EXPECT_EQ(result.exitCode, 0) << result.out << result.err;
      EXPECT_EQ(result.err, "");
    }
    EXPECT_EQ(test::LeftoverTempFiles(dir), std::vector<std::string>{});
    size_t outputs = 0;
    for (const auto& [name, bytes] : FilesBelow(dir)) {
      if (!name.starts_with("Out/")) continue;
      ++outputs;
      EXPECT_EQ(name.find('_'), std::string::npos) << "a numbered copy: " << name;
      const std::string source = "Lib/" + name.substr(4, name.size() - 8) + ".wav";
      EXPECT_EQ(test::NcwSampleBytes(dir / name), test::WavSampleBytes(dir / source)) << name;
    }
    EXPECT_EQ(outputs, 40u);
  }
}

// The engine in this process, where a thread checker sees every thread: a tree there and back
// on many threads gives the samples back.
TEST(Threads, ATreeThereAndBackInProcess) {
  test::TTempDir dir;
  MixedLibrary(dir);
  test::TWorkingDirectory inside(dir.Path());
  test::TCapturedConsole console;
  EXPECT_EQ(RunTarvix({"-j4", "-w2n", "-rec", "Lib", "Ncw"}, console.Console(), 2), 1);
  EXPECT_EQ(RunTarvix({"-j4", "-n2w", "-rec", "-whs", "Ncw", "Back"}, console.Console(), 2), 0);
  for (const auto& [name, bytes] : FilesBelow(dir)) {
    if (!name.starts_with("Back/")) continue;
    EXPECT_EQ(bytes, test::ReadFileBytes(dir / ("Lib/" + name.substr(5)))) << name;
  }
  EXPECT_EQ(FilesBelow(dir).count("Back/Bank1/long.wav"), 1u);
}

// -verify on many threads: a job's runs are handed out, rewritten for the read-back and the job
// freed once placed while workers still finish theirs. The program under the sanitizers of this
// build, with threads stalled right after they let a lock go (so that what one reads after its
// lock is gone meets what the others change or free), on files of many runs and many small
// files, both directions, several rounds.
TEST(Threads, VerifiedRunsOnManyThreadsReadNothingTheTableFreed) {
  test::TTempDir dir;
  for (int i = 0; i < 3; ++i) {
    test::WriteWav(dir, "Lib/long" + std::to_string(i) + ".wav", 8 + 8 * i, 2, 44100,
                   600000 + 70000 * static_cast<size_t>(i), static_cast<unsigned>(i));
  }
  for (int i = 0; i < 40; ++i) {
    test::WriteWav(dir, "Lib/small" + std::to_string(i) + ".wav", 16, 1 + i % 2, 44100,
                   10 + 37 * static_cast<size_t>(i), static_cast<unsigned>(i));
  }
  test::TProcessOptions stalled;
  stalled.environment = {{"LD_PRELOAD", TARVIX_SLOW_UNLOCKS_PATH},
                         {"ASAN_OPTIONS", "verify_asan_link_order=0"}};
  stalled.timeoutSeconds = 600;
  for (int round = 0; round < 2; ++round) {
    for (const char* threads : {"-j8", "-j16"}) {
      SCOPED_TRACE(std::string(threads) + " round " + std::to_string(round));
      fs::remove_all(dir / "Ncw");
      fs::remove_all(dir / "Back");
      for (const std::vector<std::string>& args :
           {std::vector<std::string>{threads, "-verify", "-w2n", "Lib", "Ncw"},
            {threads, "-verify", "-n2w", "-whs", "Ncw", "Back"}}) {
        const test::TProcessResult result = test::RunTarvixIn(dir, args, stalled);
        ASSERT_EQ(result.exitCode, 0) << result.out << result.err;
        ASSERT_EQ(result.err, "");
      }
      for (const auto& [name, bytes] : FilesBelow(dir)) {
        if (name.starts_with("Back/")) {
          EXPECT_EQ(bytes, test::ReadFileBytes(dir / ("Lib/" + name.substr(5)))) << name;
        }
      }
    }
  }
}

}  // namespace
}  // namespace tarvix
