// Conversions killed at random moments, many times over: after SIGINT or SIGTERM no temporary
// file remains, and after any signal, SIGKILL included, every file under a final output name is
// complete and holds exactly its source's samples.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <random>
#include <thread>

#include "support/Fixtures.h"
#include "support/ProcessHarness.h"

namespace tarvix {
namespace {

namespace fs = std::filesystem;

// "dir/name_3.ncw" -> "dir/name": the source an output (numbered or not) belongs to.
std::string SourceKey(const std::string& relative) {
  std::string stem = relative.substr(0, relative.rfind('.'));
  size_t underscore = stem.rfind('_');
  if (underscore != std::string::npos &&
      stem.find_first_not_of("0123456789", underscore + 1) == std::string::npos) {
    stem.erase(underscore);
  }
  return stem;
}

class InterruptionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::mt19937 rng(17);
    for (int i = 0; i < 24; ++i) {
      std::string name =
          "Src/" + std::string(i % 3 == 0 ? "Sub/" : "") + "f" + std::to_string(i) + ".wav";
      int bits = (i % 3 == 0) ? 8 : (i % 3 == 1 ? 16 : 24);
      size_t frames = 20000 + rng() % 200000;
      test::WriteWav(fDir, name, bits, 1 + i % 2, 44100, frames, static_cast<unsigned>(i));
      fSources[name.substr(4, name.size() - 8)] = test::WavSampleBytes(fDir / name);
    }
  }

  // Runs `args`, sends `signalNumber` after a random delay, and checks what it left.
  void InterruptOnce(const std::vector<std::string>& args, int signalNumber, std::mt19937& rng,
                     const std::string& outputFolder, bool outputsAreNcw) {
    test::TProcessOptions options;
    options.workingDirectory = fDir.Path();
    test::TChildProcess child(test::PlainTarvixBinary(), args, options);
    // Within the first four fifths of a whole run, so that most signals land mid-run.
    std::this_thread::sleep_for(std::chrono::microseconds(rng() % (fRunMicroseconds * 4 / 5 + 1)));
    child.Signal(signalNumber);
    test::TProcessResult result = child.Wait();
    if (result.termSignal == signalNumber) ++fInterrupted;

    std::vector<std::string> leftovers = test::LeftoverTempFiles(fDir);
    if (signalNumber != SIGKILL) {
      EXPECT_EQ(leftovers, std::vector<std::string>{});
    }
    for (const std::string& name : leftovers) fs::remove(fDir / name);
    fKillLeftovers += leftovers.size();

    if (!fs::exists(fDir / outputFolder)) return;
    for (const auto& entry : fs::recursive_directory_iterator(fDir / outputFolder)) {
      if (!entry.is_regular_file()) continue;
      std::string relative = fs::relative(entry.path(), fDir / outputFolder).string();
      const test::Bytes& expected = fSources.at(SourceKey(relative));
      test::Bytes actual = outputsAreNcw ? test::NcwSampleBytes(entry.path().string())
                                         : test::WavSampleBytes(entry.path().string());
      EXPECT_EQ(actual, expected) << relative << " after signal " << signalNumber;
      ++fChecked;
    }
  }

  // Measures one whole run, so that the signals fall within the work.
  void MeasureRun(const std::vector<std::string>& args) {
    test::TProcessOptions options;
    options.workingDirectory = fDir.Path();
    auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(test::RunProcess(test::PlainTarvixBinary(), args, options).exitCode, 0);
    auto elapsed = std::chrono::steady_clock::now() - start;
    fRunMicroseconds = static_cast<unsigned>(
        std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count() + 1);
  }

  test::TTempDir fDir;
  std::map<std::string, test::Bytes> fSources;  // "Sub/f0" -> samples
  int fInterrupted = 0;
  size_t fKillLeftovers = 0;
  size_t fChecked = 0;
  unsigned fRunMicroseconds = 1;
};

TEST_F(InterruptionTest, NothingUnderAFinalNameIsEverIncomplete) {
  std::mt19937 rng(2024);
  const int signals[] = {SIGINT, SIGTERM, SIGKILL};
  // Rewrite rounds replace the outputs of the round before; numbered rounds add beside them.
  MeasureRun({"-w2n", "-rec", "Src", "Ncw"});
  for (int round = 0; round < 15; ++round) {
    std::vector<std::string> args = {"-w2n", "-rec", "Src", "Ncw"};
    if (round % 2 == 0) args.insert(args.begin(), "-rw");
    InterruptOnce(args, signals[round % 3], rng, "Ncw", true);
    if (round % 2 == 1) fs::remove_all(fDir / "Ncw");
  }
  // A complete set to convert back, then the same the other way.
  fs::remove_all(fDir / "Ncw");
  MeasureRun({"-w2n", "-rec", "Src", "Ncw"});
  MeasureRun({"-n2w", "-rec", "Ncw", "Back"});
  for (int round = 0; round < 15; ++round) {
    std::vector<std::string> args = {"-n2w", "-rec", "Ncw", "Back"};
    if (round % 2 == 0) args.insert(args.begin(), "-rw");
    InterruptOnce(args, signals[round % 3], rng, "Back", false);
    if (round % 2 == 1) fs::remove_all(fDir / "Back");
  }
  std::printf(
      "interruptions: 30 sent, %d landed mid-run, %zu outputs checked, %zu temporary "
      "files left by SIGKILL\n",
      fInterrupted, fChecked, fKillLeftovers);
  EXPECT_GE(fInterrupted, 5);  // the checks above mean little unless runs were cut short
}

// An interrupted run rerun with -skip converts exactly what is missing: the tree ends complete,
// every output once and none numbered, and what was there already is reported as skipped.
TEST_F(InterruptionTest, ARerunWithSkipCompletesAnInterruptedTree) {
  std::vector<std::string> expected;
  for (const auto& [key, samples] : fSources) expected.push_back(key + ".ncw");
  std::sort(expected.begin(), expected.end());
  auto outputs = [&] {
    std::vector<std::string> found;
    std::error_code ignored;
    for (auto entry = fs::recursive_directory_iterator(fDir / "Ncw", ignored);
         entry != fs::recursive_directory_iterator(); entry.increment(ignored)) {
      if (entry->is_regular_file()) found.push_back(fs::relative(entry->path(), fDir / "Ncw"));
    }
    std::sort(found.begin(), found.end());
    return found;
  };
  int partial = 0;
  for (int signalNumber : {SIGINT, SIGTERM, SIGINT}) {
    fs::remove_all(fDir / "Ncw");
    test::TProcessOptions options;
    options.workingDirectory = fDir.Path();
    {
      // Interrupted once the first outputs are in place.
      test::TChildProcess child(test::PlainTarvixBinary(), {"-w2n", "-rec", "Src", "Ncw"}, options);
      for (int i = 0; i < 50000 && outputs().size() < 3; ++i) {
        std::this_thread::sleep_for(std::chrono::microseconds(100));
      }
      child.Signal(signalNumber);
      child.Wait();
    }
    const size_t before = outputs().size();
    if (before < expected.size()) ++partial;
    test::TProcessResult rerun = test::RunTarvixIn(fDir, {"-skip", "-w2n", "-rec", "Src", "Ncw"});
    EXPECT_EQ(rerun.exitCode, 0) << rerun.out;
    size_t skipped = 0;
    for (const std::string& line : test::Lines(rerun.out)) {
      if (line.ends_with("' exists already.  skipped")) ++skipped;
    }
    EXPECT_EQ(skipped, before);
    EXPECT_EQ(outputs(), expected);
    for (const std::string& name : outputs()) {
      EXPECT_EQ(test::NcwSampleBytes(fDir / ("Ncw/" + name)), fSources.at(SourceKey(name)));
    }
  }
  EXPECT_GE(partial, 1);  // a rerun of a run cut short, not only of a whole one
}

// The destination moved away mid-run, at random moments: whatever the moment, every source is
// converted once, into the moved folder (placed before) or the one made anew under its name,
// with its samples, and nothing is left half made. Where temporary files have names (builds
// without unnamed ones, as on macOS), one that moved away with its folder is out of the run's
// reach: it may stay there, and only there.
TEST_F(InterruptionTest, ADestinationMovedAwayMidRunStillGetsEverySource) {
  std::mt19937 rng(99);
  MeasureRun({"-j2", "-w2n", "-rec", "Src", "Ncw"});
  for (int round = 0; round < 8; ++round) {
    SCOPED_TRACE(round);
    fs::remove_all(fDir / "Ncw");
    fs::remove_all(fDir / "Moved");
    test::TProcessOptions options;
    options.workingDirectory = fDir.Path();
    test::TChildProcess child(test::PlainTarvixBinary(), {"-j2", "-w2n", "-rec", "Src", "Ncw"},
                              options);
    std::this_thread::sleep_for(std::chrono::microseconds(rng() % (fRunMicroseconds / 2 + 1)));
    std::error_code notYet;
    fs::rename(fDir / "Ncw", fDir / "Moved", notYet);
    const test::TProcessResult result = child.Wait();
    EXPECT_EQ(result.exitCode, 0) << result.out << result.err;
    std::vector<std::string> leftovers = test::LeftoverTempFiles(fDir);
    if (!TARVIX_TEST_UNNAMED_TEMP_FILES) {
      std::erase_if(leftovers, [](const std::string& name) { return name.starts_with("Moved/"); });
    }
    EXPECT_EQ(leftovers, std::vector<std::string>{});
    for (const auto& [key, samples] : fSources) {
      const fs::path moved = fDir / ("Moved/" + key + ".ncw");
      const fs::path made = fDir / ("Ncw/" + key + ".ncw");
      ASSERT_NE(fs::exists(moved), fs::exists(made)) << key << "\n" << result.out;
      const fs::path placed = fs::exists(moved) ? moved : made;
      try {
        EXPECT_EQ(test::NcwSampleBytes(placed), samples) << key;
      } catch (const std::exception& error) {
        ADD_FAILURE() << placed << " is no whole output: " << error.what() << "\n" << result.out;
      }
    }
  }
}

}  // namespace
}  // namespace tarvix
