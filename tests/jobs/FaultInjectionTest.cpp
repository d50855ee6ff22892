// Faults from the file system: a full disk, directories and sources the program may not use,
// and sources that vanish. No output is ever lost or left half-written.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "ncw/NcwFormat.h"
#include "platform/Errors.h"
#include "support/Fixtures.h"
#include "support/ProcessHarness.h"

namespace tarvix {
namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;

test::TProcessResult RunIn(const test::TTempDir& dir, const std::vector<std::string>& args,
                           bool unprivileged = false) {
  test::TProcessOptions options;
  options.asUnprivileged = unprivileged;
  return test::RunTarvixIn(dir, args, options);
}

// With several threads the large file is written while the first one still is: the full disk
// must still fail only the file that fills it, as one file after another would.
TEST(FaultInjection, AFullDiskFailsTheFileItHitsAndKeepsEarlierOutputs) {
  test::TTempDir dir;
  test::WriteWav(dir, "small.wav", 16, 1, 44100, 60000);   // about 70 KB as NCW
  test::WriteWav(dir, "large.wav", 16, 2, 44100, 200000);  // 800 KB, incompressible enough
  for (const char* threads : {"-j1", "-j4", "-j4", "-j4"}) {
    SCOPED_TRACE(threads);
    std::string disk = dir.MakeDir("disk");
    if (::mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=256k") != 0) {
      GTEST_SKIP() << "cannot mount a small file system here";
    }
    test::TProcessResult result =
        RunIn(dir, {threads, "small.wav", "disk/small.ncw", "large.wav", "disk/large.ncw"});
    Names onDisk;
    for (const auto& entry : fs::directory_iterator(disk)) {
      onDisk.push_back(entry.path().filename().string());
    }
    ::umount(disk.c_str());
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err,
              "ERROR: Error while writing the file: 'disk/large.ncw' (No space left on device)\n");
    EXPECT_EQ(onDisk, Names{"small.ncw"});  // no temporary file, no truncated output
  }
}

// A folder where no file or folder may be made ends the run, with the reason the system gave
// for the level that could not be made.
TEST(FaultInjection, AnOutputDirectoryThatCannotBeWrittenEndsTheRun) {
  test::TTempDir dir;
  test::OpenForEveryone(dir);
  test::WriteWav(dir, "a.wav");
  std::string readOnly = dir.MakeDir("ro");
  ::chmod(readOnly.c_str(), 0555);
  for (auto [output, folder] : {std::pair<const char*, const char*>{"ro/a.ncw", "ro/"},
                                {"ro/new/deeper/a.ncw", "ro/new/deeper/"}}) {
    test::TProcessResult result = RunIn(dir, {"a.wav", output}, /*unprivileged=*/true);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, "ERROR: Can't create temporary file: '" + std::string(folder) +
                              "' (Permission denied)\n");
    EXPECT_TRUE(fs::is_empty(readOnly));
  }
  // Even root cannot make files in /proc.
  test::TProcessResult result = RunIn(dir, {"a.wav", "/proc/a.ncw"});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.err.rfind("ERROR: Can't create temporary file: '/proc/'", 0), 0u) << result.err;
  // Nor in a file system mounted read-only.
  std::string mounted = dir.MakeDir("mounted");
  if (::mount("tmpfs", mounted.c_str(), "tmpfs", MS_RDONLY, "size=64k") != 0) {
    GTEST_SKIP() << "cannot mount a file system here";
  }
  result = RunIn(dir, {"a.wav", "mounted/new/a.ncw"});
  ::umount(mounted.c_str());
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.err,
            "ERROR: Can't create temporary file: 'mounted/new/' (Read-only file system)\n");
}

TEST(FaultInjection, SourcesThatCannotBeReadAreReported) {
  test::TTempDir dir;
  test::OpenForEveryone(dir);
  test::WriteWav(dir, "a.wav");
  ASSERT_EQ(RunIn(dir, {"a.wav"}).exitCode, 0);
  ::chmod((dir / "a.wav").c_str(), 0);
  ::chmod((dir / "a.ncw").c_str(), 0);
  test::TProcessResult wav = RunIn(dir, {"a.wav", "x.ncw"}, true);
  EXPECT_EQ(wav.exitCode, 1);
  EXPECT_EQ(test::Lines(wav.out),
            (Names{"[1 from 1]  a.wav...", "  ERROR: a.wav is not a correct WAV file",
                   "  WAVPARSER: File not opened (Permission denied)"}));
  test::TProcessResult ncw = RunIn(dir, {"a.ncw", "x.wav"}, true);
  EXPECT_EQ(ncw.exitCode, 1);
  EXPECT_EQ(ncw.err, "");
  EXPECT_EQ(test::Lines(ncw.out),
            (Names{"[1 from 1]  a.ncw...", "  ERROR: a.ncw is not a correct NCW file",
                   "  NCWPARSER: Can't open file (Permission denied)"}));
}

// An NCW source that cannot be read is refused like a damaged one, wherever it lies in a run:
// the files after it are converted, and under -test found intact.
TEST(FaultInjection, AnNcwThatCannotBeReadInTheMiddleOfAFolderIsRefusedAndTheRunGoesOn) {
  test::TTempDir dir;
  test::OpenForEveryone(dir);
  if (!test::PermissionsBindUnprivileged(dir)) {
    GTEST_SKIP() << "permission bits do not bind a child here";
  }
  for (const char* name : {"Lib/a.wav", "Lib/b.wav", "Lib/c.wav"}) test::WriteWav(dir, name);
  ASSERT_EQ(RunIn(dir, {"-w2n", "Lib"}).exitCode, 0);
  ::chmod((dir / "Lib").c_str(), 0777);
  ::chmod((dir / "Lib/b.ncw").c_str(), 0);
  for (const std::string threads : {"-j1", "-j4"}) {
    SCOPED_TRACE(threads);
    test::TProcessResult result = RunIn(dir, {threads, "-n2w", "Lib", "Out"}, true);
    EXPECT_EQ(result.exitCode, 1) << result.err;
    EXPECT_EQ(test::Lines(result.out),
              (Names{"Lib/a.ncw...", "Lib/b.ncw...", "  ERROR: Lib/b.ncw is not a correct NCW file",
                     "  NCWPARSER: Can't open file (Permission denied)", "Lib/c.ncw...",
                     "3 files: 2 converted, 0 skipped, 1 refused"}));
    EXPECT_TRUE(fs::exists(dir / "Out/a.wav"));
    EXPECT_TRUE(fs::exists(dir / "Out/c.wav"));
    EXPECT_FALSE(fs::exists(dir / "Out/b.wav"));
    fs::remove_all(dir / "Out");
    result = RunIn(dir, {threads, "-test", "-n2w", "Lib"}, true);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(test::Lines(result.out).back(),
              "3 files: 2 intact, 0 skipped, 1 damaged; 2 without checksums");
  }
}

// A process limit that grants no further thread: the files are converted on the one there is.
TEST(FaultInjection, NoThreadToBeHadStillConverts) {
  test::TTempDir dir;
  test::OpenForEveryone(dir);
  test::WriteWav(dir, "a.wav");
  test::WriteWav(dir, "b.wav", 24, 1);
  test::TProcessOptions options;
  options.workingDirectory = dir.Path();
  options.asUnprivileged = true;
  options.limits = {{RLIMIT_NPROC, 1}};
  // Uninstrumented: the leak checker itself needs a thread at exit.
  test::TProcessResult result =
      test::RunProcess(test::PlainTarvixBinary(), {"-j4", "a.wav", "b.wav"}, options);
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(test::NcwSampleBytes(dir / "b.ncw"), test::WavSampleBytes(dir / "b.wav"));
}

// The samples of a WAV or NCW file, or nothing when it does not read at all.
test::Bytes SamplesOf(const std::string& path) {
  try {
    return path.ends_with(".ncw") ? test::NcwSampleBytes(path) : test::WavSampleBytes(path);
  } catch (const TError&) {
    return {};
  }
}

// A disk that damages what it is given without an error: -verify reads every output back and
// keeps none that differs; without it the damage goes unseen, which shows the damage is done.
TEST(FaultInjection, VerifyKeepsNoOutputThatDoesNotReadBackAsWritten) {
  test::TTempDir dir;
  test::WriteWav(dir, "a.wav", 16, 2, 44100, 300000);  // two runs of about a megabyte
  test::WriteWav(dir, "b.wav", 24, 1, 48000, 5000);
  ASSERT_EQ(RunIn(dir, {"a.wav", "b.wav"}).exitCode, 0);
  for (const std::string from : {".wav", ".ncw"}) {
    const std::string to = from == ".wav" ? ".ncw" : ".wav";
    for (const std::string threads : {"-j1", "-j3"}) {
      SCOPED_TRACE(from + " " + threads);
      test::TTempDir out;
      const std::vector<std::string> verified = {
          threads,          "-verify",          dir / ("a" + from),
          out / ("a" + to), dir / ("b" + from), out / ("b" + to)};
      test::TProcessOptions sound;
      sound.workingDirectory = out.Path();
      test::TProcessResult result = test::RunProcess(test::PlainTarvixBinary(), verified, sound);
      EXPECT_EQ(result.exitCode, 0) << result.out << result.err;
      EXPECT_EQ(result.out.find("verif"), std::string::npos) << result.out;
      EXPECT_EQ(SamplesOf(out / ("a" + to)), SamplesOf(dir / ("a" + from)));
      fs::remove(out / ("a" + to));
      fs::remove(out / ("b" + to));

      test::TProcessOptions damaging = sound;
      damaging.environment = {{"LD_PRELOAD", TARVIX_CORRUPT_WRITES_PATH}};
      result = test::RunProcess(test::PlainTarvixBinary(), verified, damaging);
      EXPECT_EQ(result.exitCode, 1) << result.out << result.err;
      EXPECT_EQ(result.err, "");
      for (const char* name : {"a", "b"}) {
        EXPECT_NE(result.out.find("  ERROR: verification failed: '" + (out / (name + to)) +
                                  "' did not read back as written ("),
                  std::string::npos)
            << result.out;
        EXPECT_FALSE(fs::exists(out / (name + to)));
      }
      EXPECT_EQ(test::LeftoverTempFiles(out), std::vector<std::string>{});

      // The same damage without -verify: the output is kept, and its samples are wrong.
      result = test::RunProcess(test::PlainTarvixBinary(),
                                {threads, dir / ("a" + from), out / ("a" + to)}, damaging);
      EXPECT_EQ(result.exitCode, 0) << result.out << result.err;
      ASSERT_TRUE(fs::exists(out / ("a" + to)));
      EXPECT_NE(SamplesOf(out / ("a" + to)), SamplesOf(dir / ("a" + from)));
    }
  }
}

// The same disk under -crc: -verify finds the damage by the checksums as read back; without it
// the damaged file is kept, and -test and any conversion of it find the damage later.
TEST(FaultInjection, ChecksumsFindWhatTheDiskDamagedWhenReadBackOrLater) {
  test::TTempDir dir;
  test::WriteWav(dir, "a.wav", 16, 2, 44100, 300000);  // two runs of about a megabyte
  test::WriteWav(dir, "b.wav", 24, 6, 48000, 5000);    // one run, written in one piece
  for (const std::string threads : {"-j1", "-j3"}) {
    SCOPED_TRACE(threads);
    test::TTempDir out;
    test::TProcessOptions damaging;
    damaging.workingDirectory = out.Path();
    damaging.environment = {{"LD_PRELOAD", TARVIX_CORRUPT_WRITES_PATH}};
    const std::vector<std::string> sources = {dir / "a.wav", out / "a.ncw", dir / "b.wav",
                                              out / "b.ncw"};
    std::vector<std::string> args = {threads, "-crc", "-verify"};
    args.insert(args.end(), sources.begin(), sources.end());
    test::TProcessResult result = test::RunProcess(test::PlainTarvixBinary(), args, damaging);
    EXPECT_EQ(result.exitCode, 1) << result.out << result.err;
    for (const char* name : {"a", "b"}) {
      EXPECT_NE(
          result.out.find("  ERROR: verification failed: '" + (out / (name + std::string(".ncw"))) +
                          "' did not read back as written (checksum mismatch (block "),
          std::string::npos)
          << result.out;
    }
    EXPECT_EQ(out.List(), Names{});

    args = {threads, "-crc"};
    args.insert(args.end(), sources.begin(), sources.end());
    ASSERT_EQ(test::RunProcess(test::PlainTarvixBinary(), args, damaging).exitCode, 0);
    result = RunIn(out, {threads, "-test", "a.ncw", "b.ncw"});
    EXPECT_EQ(result.exitCode, 1);
    const Names lines = test::Lines(result.out);
    ASSERT_EQ(lines.size(), 7u) << result.out;
    for (size_t i : {1, 4}) {
      EXPECT_EQ(lines[i],
                "  ERROR: " + std::string(i == 1 ? "a" : "b") + ".ncw is not a correct NCW file");
      EXPECT_TRUE(lines[i + 1].starts_with("  NCWPARSER: checksum mismatch (block "))
          << lines[i + 1];
    }
    EXPECT_EQ(lines[6], "2 files: 0 intact, 0 skipped, 2 damaged");
    result = RunIn(out, {threads, "a.ncw", "b.ncw"});
    EXPECT_EQ(result.exitCode, 1);
    Names converted(lines.begin(), lines.end() - 1);  // a conversion prints the same lines
    converted.push_back("2 files: 0 converted, 0 skipped, 2 refused");
    EXPECT_EQ(test::Lines(result.out), converted);
    EXPECT_EQ(out.List(), (Names{"a.ncw", "b.ncw"}));
  }
}

// -verify reads back every file the writer makes, also those no WAV source could be (more than
// six channels, a byte rate that wraps its 32 bits), with every header kind, and in as few
// descriptors as a conversion needs.
TEST(FaultInjection, VerifyAcceptsEveryOutputTheWriterMakes) {
  struct TShape {
    uint16_t channels;
    uint16_t bits;
    uint32_t rate;
  };
  test::TTempDir dir;
  std::vector<std::string> sources;
  for (const TShape& shape :
       {TShape{7, 16, 44100}, TShape{8, 24, 96000}, TShape{8, 32, 1'000'000'000},
        TShape{65535, 8, 1'000'000'000}, TShape{2, 16, 44100}}) {
    test::TNcwImage image;
    image.header.Channels = shape.channels;
    image.header.BitsPerSample = shape.bits;
    image.header.SampleRate = shape.rate;
    image.header.NumSamples = kFramesPerBlock + 3;
    std::vector<int64_t> deltas(kFramesPerBlock - 1, 1);
    image.blocks.assign(2, std::vector<test::TChannelBlockImage>(
                               shape.channels, test::DeltaChannelBlock(2, -5, deltas)));
    sources.push_back(std::to_string(shape.channels) + "x" + std::to_string(shape.bits) + "_" +
                      std::to_string(shape.rate) + ".ncw");
    dir.WriteFile(sources.back(), image.Build());
  }
  for (const char* header : {"-whs", "-whe", "-wha"}) {
    for (const std::string& source : sources) {
      SCOPED_TRACE(std::string(header) + " " + source);
      const std::string plain = source.substr(0, source.size() - 4) + header + ".wav";
      const std::string verified = source.substr(0, source.size() - 4) + header + "v.wav";
      ASSERT_EQ(RunIn(dir, {header, source, plain}).exitCode, 0);
      test::TProcessResult result = RunIn(dir, {"-verify", header, source, verified});
      EXPECT_EQ(result.exitCode, 0) << result.out << result.err;
      EXPECT_EQ(test::ReadFileBytes(dir / verified), test::ReadFileBytes(dir / plain));
      fs::remove(dir / plain);
      fs::remove(dir / verified);
    }
  }
  // With five descriptors a conversion has its source and its output, and -verify no more.
  test::WriteWav(dir, "a.wav", 16, 2, 44100, 300000);
  test::TProcessOptions few;
  few.limits = {{RLIMIT_NOFILE, 5}};
  few.workingDirectory = dir.Path();
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"-verify", "a.wav", "v.ncw"}, {"-verify", "v.ncw", "v.wav"}}) {
    SCOPED_TRACE(args[1]);
    test::TProcessResult result = test::RunProcess(test::PlainTarvixBinary(), args, few);
    EXPECT_EQ(result.exitCode, 0) << result.out << result.err;
  }
  EXPECT_EQ(test::WavSampleBytes(dir / "v.wav"), test::WavSampleBytes(dir / "a.wav"));
}

TEST(FaultInjection, ASourceThatVanishedAfterTheListingIsReported) {
  test::TTempDir dir;
  test::WriteWav(dir, "In/a.wav");
  test::WriteWav(dir, "In/c.wav");
  // A name the listing finds but that no longer opens, as after a deletion in between.
  ASSERT_EQ(::symlink("deleted.wav", (dir / "In/b.wav").c_str()), 0);
  test::TProcessResult result = RunIn(dir, {"-w2n", "In"});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(test::Lines(result.out),
            (Names{"In/a.wav...", "In/b.wav...", "  ERROR: In/b.wav is not a correct WAV file",
                   "  WAVPARSER: File not opened (No such file or directory)", "In/c.wav...",
                   "3 files: 2 converted, 0 skipped, 1 refused"}));
  EXPECT_TRUE(fs::exists(dir / "In/c.ncw"));

  ASSERT_EQ(::symlink("deleted.ncw", (dir / "In/b.ncw").c_str()), 0);
  result = RunIn(dir, {"-n2w", "In", "Out"});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(test::Lines(result.out),
            (Names{"In/a.ncw...", "In/b.ncw...", "  ERROR: In/b.ncw is not a correct NCW file",
                   "  NCWPARSER: Can't open file (No such file or directory)", "In/c.ncw...",
                   "3 files: 2 converted, 0 skipped, 1 refused"}));
  EXPECT_TRUE(fs::exists(dir / "Out/a.wav"));
  EXPECT_TRUE(fs::exists(dir / "Out/c.wav"));  // converted after
}

}  // namespace
}  // namespace tarvix
