// A tree of 2000 files converted there and back three times, with and without the rewrite
// flag: identical results every time, no file descriptor left open and no memory gained from
// one file to the next.
#include <dirent.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "support/Fixtures.h"
#include "support/ProcessHarness.h"

namespace tarvix {
namespace {

namespace fs = std::filesystem;

int OpenDescriptors(pid_t pid) {
  std::string path = "/proc/" + std::to_string(pid) + "/fd";
  DIR* dir = ::opendir(path.c_str());
  if (dir == nullptr) return -1;
  int count = 0;
  while (const dirent* entry = ::readdir(dir)) {
    if (entry->d_name[0] != '.') ++count;
  }
  ::closedir(dir);
  return count;
}

long ResidentKilobytes(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string key;
  while (status >> key) {
    if (key == "VmRSS:") {
      long kilobytes = 0;
      status >> kilobytes;
      return kilobytes;
    }
  }
  return -1;
}

// True once the child runs the program (before exec it is still a copy of the test).
bool RunsProgram(pid_t pid) {
  std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
  std::string name;
  comm >> name;
  return name == fs::path(test::PlainTarvixBinary()).filename().string().substr(0, 15);
}

struct TWatch {
  std::vector<int> descriptors;
  std::vector<long> resident;
};

// Runs one conversion of the whole tree, sampling the child's descriptors and memory.
TWatch RunWatched(const test::TTempDir& dir, const std::vector<std::string>& args) {
  test::TProcessOptions options;
  options.workingDirectory = dir.Path();
  test::TChildProcess child(test::PlainTarvixBinary(), args, options);
  TWatch watch;
  for (;;) {
    if (!RunsProgram(child.Pid())) {
      if (!watch.resident.empty()) break;  // ended
      std::this_thread::sleep_for(std::chrono::microseconds(200));
      continue;
    }
    int descriptors = OpenDescriptors(child.Pid());
    long resident = ResidentKilobytes(child.Pid());
    if (descriptors < 0 || resident <= 0) break;
    watch.descriptors.push_back(descriptors);
    watch.resident.push_back(resident);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  test::TProcessResult result = child.Wait();
  EXPECT_EQ(result.exitCode, 0) << result.err;
  return watch;
}

TEST(Soak, TwoThousandFilesThereAndBackThreeTimes) {
  test::TTempDir dir;
  std::vector<std::string> names;
  for (int i = 0; i < 2000; ++i) {
    std::string name = "Lib/Bank" + std::to_string(i % 20) + "/Set" + std::to_string(i % 3) + "/s" +
                       std::to_string(i) + ".wav";
    test::WriteWav(dir, name, i % 2 == 0 ? 16 : 24, 1 + i % 2, 44100, 300 + i % 700,
                   static_cast<unsigned>(i));
    names.push_back(name.substr(4));
  }
  int maxDescriptors = 0;
  long firstQuarter = 0, lastQuarter = 0;
  size_t checked = 0;
  for (int round = 0; round < 3; ++round) {
    for (bool rewrite : {false, true}) {
      std::vector<std::string> flags =
          rewrite ? std::vector<std::string>{"-rw"} : std::vector<std::string>{};
      if (!rewrite) {
        fs::remove_all(dir / "Ncw");
        fs::remove_all(dir / "Back");
      }
      // Two threads, whatever the machine has, so that the descriptors to expect are known.
      flags.push_back("-j2");
      auto there = flags, back = flags;
      there.insert(there.end(), {"-w2n", "-rec", "Lib", "Ncw"});
      back.insert(back.end(), {"-n2w", "-rec", "-whs", "Ncw", "Back"});
      for (const auto& args : {there, back}) {
        TWatch watch = RunWatched(dir, args);
        ASSERT_FALSE(watch.resident.empty());
        for (int descriptors : watch.descriptors)
          maxDescriptors = std::max(maxDescriptors, descriptors);
        size_t quarter = std::max<size_t>(1, watch.resident.size() / 4);
        for (size_t i = 0; i < quarter; ++i) {
          firstQuarter = std::max(firstQuarter, watch.resident[i]);
          lastQuarter = std::max(lastQuarter, watch.resident[watch.resident.size() - 1 - i]);
        }
      }
      for (const std::string& name : names) {
        ASSERT_EQ(test::ReadFileBytes(dir / ("Back/" + name)),
                  test::ReadFileBytes(dir / ("Lib/" + name)))
            << name << " in round " << round;
        ++checked;
      }
      EXPECT_EQ(test::LeftoverTempFiles(dir), std::vector<std::string>{});
    }
  }
  // Standard streams, a folder being listed, per thread one source and one output, and the
  // finished outputs that wait for their turn (eight per thread at most): nothing accumulates.
  EXPECT_LE(maxDescriptors, 3 + 1 + 2 * 2 + 8 * 2);
  EXPECT_LE(lastQuarter, firstQuarter + 2048) << "resident memory grew during the run";
  std::printf(
      "soak: %zu files checked, at most %d descriptors, resident %ld kB early, %ld kB "
      "late\n",
      checked, maxDescriptors, firstQuarter, lastQuarter);
}

}  // namespace
}  // namespace tarvix
