// Threads change nothing a user can see: with one thread and with several, the same console
// text, the same outputs under the same names and the same exit status, on trees and lists
// with damaged, missing and refused files mixed in, and with an error that ends the run.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>

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

TRunSnapshot RunWithThreads(const TSetup& setup, std::vector<std::string> args, int threads) {
  test::TTempDir dir;
  setup(dir);
  args.insert(args.begin(), "-j" + std::to_string(threads));
  test::TProcessResult result = test::RunTarvixIn(dir, args);  // fails on a leftover temp file
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
  const TRunSnapshot ended = RunWithThreads(MixedList, {"-l", "ends.txt"}, 4);
  EXPECT_EQ(ended.exitCode, 1);
  EXPECT_NE(ended.err.find("NCW file is cut short"), std::string::npos) << ended.err;
  EXPECT_EQ(ended.files.count("b.ncw") + ended.files.count("c.wav"), 2u);
  EXPECT_EQ(ended.files.count("a.ncw") + ended.files.count("b_1.ncw") +
                ended.files.count("c_1.wav") + ended.files.count("damaged.wav"),
            0u);
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

}  // namespace
}  // namespace tarvix
