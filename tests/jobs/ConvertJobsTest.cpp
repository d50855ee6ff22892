// The jobs' choices and their failures: header kinds, output placement, write failures and
// interruption. Nothing may ever be lost or left half-written.
#include "jobs/Conversion.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <filesystem>
#include <functional>
#include <thread>

#include "jobs/ItemFailure.h"
#include "jobs/OutputNaming.h"
#include "platform/Errors.h"
#include "platform/FileSystem.h"
#include "platform/TempFileCleanup.h"
#include "support/Fixtures.h"
#include "support/NcwCodec.h"
#include "support/ProcessHarness.h"

namespace tarvix {
namespace {

namespace fs = std::filesystem;

// ---- Output naming ----

TEST(MakeNumberedName, FirstFreeNumberAfterTheUnnumberedName) {
  test::TTempDir dir;
  struct Case {
    std::vector<std::string> existing;
    std::string name, expected;
  } cases[] = {
      {{}, "P.ncw", "P.ncw"},
      {{"P.ncw"}, "P.ncw", "P_1.ncw"},
      {{"P.ncw", "P_1.ncw"}, "P.ncw", "P_2.ncw"},
      {{"P_1.ncw"}, "P.ncw", "P.ncw"},
      {{"P.ncw", "P_1.ncw", "P_3.ncw"}, "P.ncw", "P_2.ncw"},
      {{"OUT"}, "OUT", "OUT_1"},
      {{"a.b.WAV"}, "a.b.WAV", "a.b_1.WAV"},
      {{"d.x/f"}, "d.x/f", "d.x/f_1"},
  };
  for (const auto& c : cases) {
    test::TTempDir local;
    for (const std::string& name : c.existing) local.WriteFile(name, "");
    local.MakeDir("P_2.ncw.dir");
    EXPECT_EQ(MakeNumberedName(local / c.name), local / c.expected);
  }
  dir.MakeDir("D.ncw");  // a folder takes a name as a file does
  EXPECT_EQ(MakeNumberedName(dir / "D.ncw"), dir / "D_1.ncw");
  dir.WriteFile("E.ncw", "");
  dir.MakeDir("E_1.ncw");
  EXPECT_EQ(MakeNumberedName(dir / "E.ncw"), dir / "E_2.ncw");
}

TEST(ForceDirectoryPath, MakesEveryMissingLevel) {
  test::TTempDir dir;
  EXPECT_TRUE(ForceDirectoryPath(dir / "a/b/c/").Ok());
  EXPECT_TRUE(DirectoryExists(dir / "a/b/c"));
  EXPECT_TRUE(ForceDirectoryPath(dir / "a/b/c").Ok());
  EXPECT_TRUE(ForceDirectoryPath("/").Ok());
  dir.WriteFile("file", "");
  EXPECT_EQ(ForceDirectoryPath(dir / "file/sub").Why(), TSystemResult::TWhy::kNotAFolder);
}

// Several runs building one new tree at once: whoever makes a level first, every one of them
// finds the whole path there.
TEST(ForceDirectoryPath, LevelsMadeByOthersMeanwhileAreSuccess) {
  for (int round = 0; round < 20; ++round) {
    test::TTempDir dir;
    const std::string deep = dir / "n/e/s/t/e/d/";
    std::vector<std::string> reasons(8, "not run");
    std::vector<std::thread> makers;
    for (std::string& reason : reasons) {
      makers.emplace_back([&deep, &reason] { reason = ForceDirectoryPath(deep).Reason(); });
    }
    for (std::thread& maker : makers) maker.join();
    EXPECT_EQ(reasons, std::vector<std::string>(8, ""));
    EXPECT_TRUE(DirectoryExists(deep));
  }
}

// Both kinds of temporary file: unnamed where the file system has them, named elsewhere.
class TempFileKinds : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    if (GetParam()) UseNamedTempFiles();
  }
};

TEST_P(TempFileKinds, PlacingNumbersOrReplacesAndLeavesNoTemporaryFile) {
  test::TTempDir dir;
  std::string output = dir.WriteFile("o.ncw", "first");
  for (bool rewrite : {false, true}) {
    TTempFile temp(dir.Path() + "/");
    ASSERT_TRUE(temp.Created());
    temp.Sink().WriteAt(0, "new", 3);
    temp.Close();
    TPlacement placement =
        PlaceOutput(temp, output, rewrite ? TNameRule::kReplace : TNameRule::kNumber);
    EXPECT_TRUE(placement.placed);
    EXPECT_EQ(placement.finalName, rewrite ? output : dir / "o_1.ncw");
    EXPECT_EQ(test::LeftoverTempFiles(dir), std::vector<std::string>{});
    EXPECT_EQ(temp.Name(), "");  // placed: nothing left to remove
  }
  EXPECT_EQ(test::ReadFileText(output), "new");  // replaced
  EXPECT_EQ(test::ReadFileText(dir / "o_1.ncw"), "new");
  {
    // -skip: a name taken meanwhile keeps what it holds, and the new output goes.
    TTempFile kept(dir.Path() + "/");
    ASSERT_TRUE(kept.Created());
    kept.Sink().WriteAt(0, "late", 4);
    kept.Close();
    TPlacement placement = PlaceOutput(kept, output, TNameRule::kKeep);
    EXPECT_FALSE(placement.placed);
    EXPECT_TRUE(placement.nameTaken);
  }
  EXPECT_EQ(test::ReadFileText(output), "new");
  {
    TTempFile discarded(dir.Path() + "/");
    ASSERT_TRUE(discarded.Created());
    discarded.Sink().WriteAt(0, "gone", 4);
  }
  EXPECT_EQ(dir.List(), (std::vector<std::string>{"o.ncw", "o_1.ncw"}));
}

// Which kind is made: unnamed only where the build makes unnamed files and they were not turned
// off, else a named one that its folder lists until it is placed.
TEST_P(TempFileKinds, ATemporaryFileHasANameExactlyWhereUnnamedOnesAreNotMade) {
  const bool named = GetParam() || !TARVIX_TEST_UNNAMED_TEMP_FILES;
  test::TTempDir dir;
  TTempFile temp(dir.Path() + "/");
  ASSERT_TRUE(temp.Created());
  temp.Sink().WriteAt(0, "data", 4);
  EXPECT_EQ(temp.Name().empty(), !named);
  EXPECT_EQ(test::LeftoverTempFiles(dir).size(), named ? 1u : 0u);
  if (named) {
    EXPECT_EQ(temp.ReadableName(), temp.Name());
  }
  EXPECT_EQ(temp.ReadableName().starts_with("/proc/self/fd/"), !named);
  temp.Close();
  EXPECT_EQ(test::ReadFileText(temp.ReadableName()), "data");
  EXPECT_TRUE(PlaceOutput(temp, dir / "o.ncw", TNameRule::kNumber).placed);
  EXPECT_EQ(dir.List(), std::vector<std::string>{"o.ncw"});
  EXPECT_EQ(test::ReadFileText(dir / "o.ncw"), "data");
}

// Whatever lies at the output's name that is not a folder (a link that leads nowhere, a link to a
// file, a FIFO) is taken like an existing file: numbered past without -rw, and with -rw the name
// itself is replaced, never what a link leads to.
TEST_P(TempFileKinds, NamesTakenByLinksAndFifosAreNumberedOrReplacedButNeverFollowed) {
  const struct {
    std::string what;
    std::function<void(const test::TTempDir&)> make;  // puts something at "o.ncw"
  } cases[] = {
      {"a dangling link",
       [](const test::TTempDir& d) {
         ::symlink((d / "nowhere.ncw").c_str(), (d / "o.ncw").c_str());
       }},
      {"a link to a file",
       [](const test::TTempDir& d) {
         d.WriteFile("target.ncw", "kept");
         ::symlink((d / "target.ncw").c_str(), (d / "o.ncw").c_str());
       }},
      {"a link to a read-only file",
       [](const test::TTempDir& d) {
         d.WriteFile("target.ncw", "kept");
         ::chmod((d / "target.ncw").c_str(), 0444);
         ::symlink((d / "target.ncw").c_str(), (d / "o.ncw").c_str());
       }},
      {"a FIFO", [](const test::TTempDir& d) { ::mkfifo((d / "o.ncw").c_str(), 0600); }},
  };
  for (const auto& c : cases) {
    for (bool rewrite : {false, true}) {
      SCOPED_TRACE(c.what + (rewrite ? " with -rw" : ""));
      test::TTempDir dir;
      c.make(dir);
      TTempFile temp(dir.Path() + "/");
      ASSERT_TRUE(temp.Created());
      TPlacement placement =
          PlaceOutput(temp, dir / "o.ncw", rewrite ? TNameRule::kReplace : TNameRule::kNumber);
      ASSERT_TRUE(placement.placed) << placement.reason;
      EXPECT_EQ(placement.finalName, dir / (rewrite ? "o.ncw" : "o_1.ncw"));
      struct stat info;
      ASSERT_EQ(::lstat(placement.finalName.c_str(), &info), 0);
      EXPECT_TRUE(S_ISREG(info.st_mode));  // the output itself, not a link
      EXPECT_FALSE(FileExists(dir / "nowhere.ncw"));
      if (FileExists(dir / "target.ncw")) {
        EXPECT_EQ(test::ReadFileText(dir / "target.ncw"), "kept");
      }
    }
  }
}

// The kinds share the process: the named one comes last, as it cannot be undone.
INSTANTIATE_TEST_SUITE_P(UnnamedThenNamed, TempFileKinds, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Named" : "Unnamed"; });

// The temporary file is named from the output's folder as given: a working directory so deep
// that its full path and a temporary name would not fit the system's limit does not matter when
// the output's own name fits.
TEST(OutputFolder, ATemporaryFileBesideAnOutputOfNoFolderIsNamedRelatively) {
  test::TTempDir dir;
  std::string deep = dir.Path();
  std::string relative;
  while (deep.size() < PATH_MAX - 10) {
    const std::string level(std::min<size_t>(200, PATH_MAX - 10 - deep.size()), 'd');
    deep += "/" + level;
    relative += level + "/";
    ASSERT_EQ(::mkdir(deep.c_str(), 0777), 0) << deep.size();
  }
  dir.WriteFile("s.wav", test::MakeWavBytes(16, 1, 8000, 1000));
  ASSERT_EQ(::rename((dir / "s.wav").c_str(), (deep + "/s.wav").c_str()), 0);
  test::TProcessOptions options;
  options.workingDirectory = deep;
  test::TProcessResult result = test::RunTarvixIn(dir, {"s.wav"}, options);
  EXPECT_EQ(result.exitCode, 0) << result.out << result.err;
  EXPECT_EQ(test::NcwSampleBytes(dir / (relative + "s.ncw")),
            test::WavSampleBytes(deep + "/s.wav"));
}

// ---- Header kinds ----

struct HeaderCase {
  int channels;
  int bits;
  uint32_t rate;
  bool extendedUnderAuto;
};

// Every WAV file the program writes, it reads back: each width and header kind there and back.
TEST(NcwToWavHeaderKinds, AutoChoosesByChannelsWidthAndRate) {
  const HeaderCase cases[] = {
      {2, 16, 44100, false}, {1, 8, 8000, false},  {2, 16, 44101, true}, {2, 16, 48000, true},
      {2, 24, 44100, true},  {1, 32, 22050, true}, {3, 16, 44100, true}, {2, 8, 44100, false},
      {4, 8, 22050, true},   {6, 24, 48000, true},
  };
  for (const HeaderCase& c : cases) {
    SCOPED_TRACE(std::to_string(c.channels) + " channels, " + std::to_string(c.bits) + " bits, " +
                 std::to_string(c.rate));
    test::TTempDir dir;
    std::vector<int64_t> samples(static_cast<size_t>(c.channels) * 700);
    for (size_t i = 0; i < samples.size(); ++i)
      samples[i] = static_cast<int64_t>(i * 37 % 201) - 100;
    dir.WriteFile("s.ncw", test::EncodeToNcwBytes(c.bits, c.channels, samples, c.rate));
    for (auto [flag, extended] : {std::pair<std::string, bool>{"-whs", false},
                                  {"-whe", true},
                                  {"-wha", c.extendedUnderAuto}}) {
      ASSERT_EQ(test::RunTarvixIn(dir, {"-rw", flag, "s.ncw"}).exitCode, 0);
      test::Bytes wav = test::ReadFileBytes(dir / "s.wav");
      size_t headerBytes = extended ? 68 : 44;
      ASSERT_EQ(wav.size(), headerBytes + samples.size() * static_cast<size_t>(c.bits / 8)) << flag;
      EXPECT_EQ(wav[20] | wav[21] << 8, extended ? 0xFFFE : 1) << flag;
      ASSERT_EQ(test::RunTarvixIn(dir, {"-rw", "s.wav", "back.ncw"}).exitCode, 0) << flag;
      EXPECT_EQ(test::NcwSampleBytes(dir / "back.ncw"), test::NcwSampleBytes(dir / "s.ncw"))
          << flag;
    }
  }
}

// ---- What NCW cannot keep ----

// A source with loop points and tags gives the same NCW file as one without them, and a note
// follows its progress text in every mode; the exit status does not change.
TEST(WavToNcwNotes, FollowTheProgressTextInEveryModeAndTheSamplesAreTheSame) {
  const std::string note =
      "  note: 'Kit/tagged.wav' has LIST, smpl chunks; NCW keeps the samples only";
  const std::string count = "2 files: 2 converted, 0 skipped, 0 refused";  // a note is no failure
  struct Case {
    std::string mode;
    std::vector<std::string> args;
    std::string outputFolder;
    std::vector<std::string> lines;
  } cases[] = {
      {"file",
       {"Kit/plain.wav", "Kit/tagged.wav"},
       "Kit",
       {"[1 from 2]  Kit/plain.wav...", "[2 from 2]  Kit/tagged.wav...", note, count}},
      {"directory",
       {"-w2n", "Kit", "Out"},
       "Out",
       {"Kit/plain.wav...", "Kit/tagged.wav...", note, count}},
      {"list",
       {"-l", "list.txt"},
       "Kit",
       {"[1 from 2]  Kit/plain.wav...", "[2 from 2]  Kit/tagged.wav...", note, count}},
  };
  const test::Bytes plain = test::MakeWavBytes(16, 2, 44100, 1500);
  test::TWavImage tagged;
  tagged.data.assign(plain.begin() + 44, plain.end());
  tagged.chunksBeforeData = {{"LIST", test::Bytes(26, 'i')}};
  tagged.trailing = test::TByteWriter().Tag("smpl").U32(60).Raw(test::Bytes(60, 2)).Result();
  for (const Case& c : cases) {
    for (const char* threads : {"-j1", "-j4"}) {
      SCOPED_TRACE(c.mode + " mode " + threads);
      test::TTempDir dir;
      dir.WriteFile("Kit/plain.wav", plain);
      dir.WriteFile("Kit/tagged.wav", tagged.Build());
      dir.WriteFile("list.txt", "@tarvixlist1\nKit/plain.wav\nKit/tagged.wav\n");
      std::vector<std::string> args = c.args;
      args.insert(args.begin(), threads);
      test::TProcessResult result = test::RunTarvixIn(dir, args);
      EXPECT_EQ(result.exitCode, 0) << result.err;
      EXPECT_EQ(test::Lines(result.out), c.lines);
      const test::Bytes ncw = test::ReadFileBytes(dir / (c.outputFolder + "/plain.ncw"));
      ASSERT_FALSE(ncw.empty());
      EXPECT_EQ(test::ReadFileBytes(dir / (c.outputFolder + "/tagged.ncw")), ncw);
    }
  }
}

// ---- Faults ----

TEST(JobFaults, AWriteFailureLeavesNoTemporaryFileAndNoOutput) {
  test::TTempDir dir;
  test::WriteWav(dir, "small.wav", 16, 1, 44100, 100);
  test::WriteWav(dir, "large.wav", 16, 2, 44100, 100000);  // 400 KB
  test::TProcessOptions limited;
  limited.limits = {{RLIMIT_FSIZE, 64 * 1024}};
  test::TProcessResult result = test::RunTarvixIn(dir, {"small.wav", "large.wav"}, limited);
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.err, "ERROR: Error while writing the file: 'large.ncw' (File too large)\n");
  EXPECT_TRUE(fs::exists(dir / "small.ncw"));  // finished before the failure
  EXPECT_FALSE(fs::exists(dir / "large.ncw"));

  ASSERT_EQ(test::RunTarvixIn(dir, {"large.wav"}).exitCode, 0);
  test::TProcessResult back = test::RunTarvixIn(dir, {"large.ncw", "large2.wav"}, limited);
  EXPECT_EQ(back.exitCode, 1);
  EXPECT_EQ(back.err, "ERROR: Error while writing the file: 'large2.wav' (File too large)\n");
  EXPECT_FALSE(fs::exists(dir / "large2.wav"));
}

// A folder in an output's place takes its name as a file would: the output is numbered past
// it, passed over under -skip; -rw cannot replace a folder in one step and says so.
TEST(JobFaults, AnOutputNameTakenByAFolderIsNumberedSkippedOrRefused) {
  struct TCase {
    const char* flag;
    int exitCode;
    const char* secondLine;
    const char* count;
    const char* placedAs;  // where a.wav's output went; "" for nowhere
  };
  for (const TCase& c : {
           TCase{"-whs", 0, "  note: 'a.ncw' exists; written as 'a_1.ncw'",
                 "2 files: 2 converted, 0 skipped, 0 refused; 1 under a numbered name", "a_1.ncw"},
           TCase{"-skip", 0, "  'a.ncw' exists already.  skipped",
                 "2 files: 1 converted, 1 skipped, 0 refused", ""},
           TCase{"-rw", 1, "  ERROR: can't write 'a.ncw' (Is a directory)",
                 "2 files: 1 converted, 0 skipped, 1 refused", ""},
       }) {
    SCOPED_TRACE(c.flag);
    test::TTempDir dir;
    test::WriteWav(dir, "a.wav");
    test::WriteWav(dir, "b.wav");
    dir.MakeDir("a.ncw");
    test::TProcessResult result = test::RunTarvixIn(dir, {c.flag, "a.wav", "b.wav"});
    EXPECT_EQ(result.exitCode, c.exitCode);
    std::vector<std::string> lines = test::Lines(result.out);
    ASSERT_GE(lines.size(), 3u) << result.out;
    EXPECT_EQ(lines[1], c.secondLine);
    EXPECT_EQ(lines.back(), c.count);
    EXPECT_TRUE(fs::is_directory(dir / "a.ncw"));
    EXPECT_TRUE(fs::exists(dir / "b.ncw"));
    if (*c.placedAs != 0) {
      EXPECT_EQ(test::NcwSampleBytes(dir / c.placedAs), test::WavSampleBytes(dir / "a.wav"));
    }
  }
}

TEST(JobFaults, ReadOnlyOutputsAreNumberedOrRefusedButNeverLost) {
  test::TTempDir dir;
  test::WriteWav(dir, "a.wav");
  std::string old = dir.WriteFile("a.ncw", "precious");
  ::chmod(old.c_str(), 0444);
  EXPECT_EQ(test::RunTarvixIn(dir, {"a.wav"}).exitCode, 0);
  EXPECT_TRUE(fs::exists(dir / "a_1.ncw"));
  test::TProcessResult rewrite = test::RunTarvixIn(dir, {"-rw", "a.wav"});
  EXPECT_EQ(rewrite.exitCode, 1);
  EXPECT_EQ(test::Lines(rewrite.out),
            (std::vector<std::string>{"[1 from 1]  a.wav...",
                                      "  ERROR: can't write 'a.ncw' (Permission denied)"}));
  EXPECT_EQ(test::ReadFileText(old), "precious");
}

TEST(JobFaults, AnOutputDirectoryThatCannotBeMadeEndsTheRun) {
  test::TTempDir dir;
  test::WriteWav(dir, "a.wav");
  dir.WriteFile("blocker", "a file where a directory should be");
  test::TProcessResult result = test::RunTarvixIn(dir, {"a.wav", "blocker/sub/a.ncw"});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.err, "ERROR: Can't create temporary file: 'blocker/sub/' (Not a directory)\n");
}

// Only what other items converted at the same time can have caused is converted again alone: a
// lack of descriptors or memory, a disk they filled. A refusal, a failing disk or a source over
// the format's limit would fail the same way again.
TEST(JobFaults, FailuresAreRetriedAloneOnlyWhereOthersCouldHaveCausedThem) {
  using A = TFailureAction;
  const struct {
    const char* what;
    std::exception_ptr failure;
    A withOthers, alone;
  } cases[] = {
      {"a refused source", std::make_exception_ptr(TSourceRefused{{"  ERROR: x"}}), A::kReport,
       A::kReport},
      {"no descriptor to open the source",
       std::make_exception_ptr(
           TFileError(TFileErrorKind::kCannotOpen, "Can't open file", "x", EMFILE)),
       A::kRetryAlone, A::kReportShort},
      {"no descriptor in the system",
       std::make_exception_ptr(TError("Can't create temporary file", "d/", SystemReason(ENFILE),
                                      FaultOfErrorNumber(ENFILE, TFault::kOutput))),
       A::kRetryAlone, A::kReportShort},
      {"no memory", std::make_exception_ptr(std::bad_alloc()), A::kRetryAlone, A::kReportShort},
      {"a full disk",
       std::make_exception_ptr(
           TFileError(TFileErrorKind::kWrite, "Error while writing the file", "x", ENOSPC)),
       A::kRetryAlone, A::kEndRun},
      {"a failing disk",
       std::make_exception_ptr(
           TFileError(TFileErrorKind::kWrite, "Error while writing the file", "x", EIO)),
       A::kEndRun, A::kEndRun},
      {"a source over the format's limit",
       std::make_exception_ptr(TError("The NCW file would exceed the format's limit of 2 GiB", {},
                                      {}, TFault::kSource)),
       A::kEndRun, A::kEndRun},
      {"a name that cannot be opened, as the file layer raises it",
       std::make_exception_ptr(
           TFileError(TFileErrorKind::kCannotOpen, "Can't open file", "x", ENOENT)),
       A::kEndRun, A::kEndRun},
  };
  auto classified = [](const std::exception_ptr& failure) {
    try {
      std::rethrow_exception(failure);
    } catch (...) {
      return ClassifyCurrentException();
    }
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(ActionOn(classified(c.failure), true), c.withOthers);
    EXPECT_EQ(ActionOn(classified(c.failure), false), c.alone);
  }
  EXPECT_EQ(ShortOfResourceLine(classified(cases[1].failure), "a.wav"),
            "  ERROR: a.wav was not converted: the system ran short (Too many open files)");
  EXPECT_EQ(ShortOfResourceLine(classified(cases[3].failure), "a.wav"),
            "  ERROR: a.wav was not converted: the system ran short (Not enough memory)");
}

// A source cut short after it was opened, while several threads read its runs at once: every
// run that meets the end says so in the same words, and none of them changes what another
// reads (the thread checker runs this).
TEST(JobFaults, ASourceCutShortWhileItsRunsAreReadIsRefusedByEveryRun) {
  test::TTempDir dir;
  test::WriteWav(dir, "long.wav", 16, 2, 44100, 1'200'000);  // five runs
  ASSERT_EQ(test::RunTarvixIn(dir, {"long.wav"}).exitCode, 0);
  const struct {
    TConvertDirection direction;
    std::string source, output, line;
  } cases[] = {
      {TConvertDirection::kWavToNcw, dir / "long.wav", dir / "cut.ncw",
       "  WAVPARSER: Error while reading the file (cut short while it was read)"},
      {TConvertDirection::kNcwToWav, dir / "long.ncw", dir / "cut.wav",
       "  NCWPARSER: NCW file is cut short (block "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.source);
    TRunOptions options;
    std::unique_ptr<TConversion> conversion =
        MakeConversion({c.source, c.output, c.direction}, options);
    TWorkerMemory opening;
    conversion->Open(opening);
    conversion->ForgetHead();
    ASSERT_GE(conversion->RunCount(), 4u);
    fs::resize_file(c.source, 65536);
    std::vector<std::vector<std::string>> lines(conversion->RunCount());
    std::vector<std::thread> runs;
    for (size_t k = 0; k < conversion->RunCount(); ++k) {
      runs.emplace_back([&, k] {
        TWorkerMemory memory;
        try {
          conversion->ConvertRun(k, memory);
        } catch (const TSourceRefused& refused) {
          lines[k] = refused.lines;
        }
      });
    }
    for (std::thread& run : runs) run.join();
    for (size_t k = 0; k < lines.size(); ++k) {
      ASSERT_EQ(lines[k].size(), 2u) << "run " << k;
      EXPECT_EQ(lines[k][1].rfind(c.line, 0), 0u) << lines[k][1];
    }
  }
}

// Waits until the program has made its temporary file, then interrupts it.
TEST(JobFaults, InterruptionRemovesTheTemporaryFileAndEndsByTheSignal) {
  test::TTempDir dir;
  test::WriteWav(dir, "big.wav", 16, 2, 44100, 4'000'000);  // 16 MB
  for (int signalNumber : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signalNumber);
    test::TProcessOptions options;
    options.workingDirectory = dir.Path();
    test::TChildProcess child(test::TarvixBinary(), {"-rw", "big.wav"}, options);
    // The temporary file may have no name: the child holding a file of the folder open other
    // than its source tells that it is writing.
    auto writing = [&] {
      const std::string fds = "/proc/" + std::to_string(child.Pid()) + "/fd";
      std::error_code ignored;
      for (const auto& entry : fs::directory_iterator(fds, ignored)) {
        const std::string target = fs::read_symlink(entry.path(), ignored).string();
        if (target.starts_with(dir.Path() + "/") && target != dir / "big.wav") return true;
      }
      return false;
    };
    bool seen = false;
    for (int i = 0; i < 20000 && !seen; ++i) {
      seen = writing();
      if (!seen) std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    child.Signal(signalNumber);
    test::TProcessResult result = child.Wait();
    if (!seen || result.exitCode == 0) {
      GTEST_SKIP() << "the conversion finished before it could be interrupted";
    }
    EXPECT_EQ(result.termSignal, signalNumber);
    EXPECT_EQ(test::LeftoverTempFiles(dir), std::vector<std::string>{});
  }
}

}  // namespace
}  // namespace tarvix
