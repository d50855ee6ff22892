#include "platform/FileSystem.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <set>

#include "platform/Errors.h"
#include "platform/FileNames.h"
#include "support/TempDir.h"

namespace tarvix {
namespace {

using test::TTempDir;

class FileSystemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fFile = fDir.WriteFile("file.wav", "x");
    fSubdir = fDir.MakeDir("sub");
    ASSERT_EQ(::symlink(fFile.c_str(), (fDir / "link-to-file").c_str()), 0);
    ASSERT_EQ(::symlink(fSubdir.c_str(), (fDir / "link-to-dir").c_str()), 0);
    ASSERT_EQ(::symlink((fDir / "nowhere").c_str(), (fDir / "dangling").c_str()), 0);
  }
  TTempDir fDir;
  std::string fFile, fSubdir;
};

TEST_F(FileSystemTest, ExistenceFollowsLinksAndTellsFilesFromDirectories) {
  struct Case {
    std::string name;
    bool file, directory;
  } cases[] = {
      {"file.wav", true, false},     {"sub", false, true},         {"sub/", false, true},
      {"link-to-file", true, false}, {"link-to-dir", false, true}, {"dangling", false, false},
      {"missing", false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(FileExists(fDir / c.name), c.file);
    EXPECT_EQ(DirectoryExists(fDir / c.name), c.directory);
  }
  EXPECT_FALSE(FileExists(""));
  EXPECT_FALSE(DirectoryExists(""));
}

TEST_F(FileSystemTest, TempFilesAreNewEmptyUniqueAndNeverLookLikeSources) {
  std::set<std::string> names;
  for (int i = 0; i < 20; ++i) {
    std::string name;
    ASSERT_TRUE(CreateTempFile(fDir.Path() + "/", name).Ok());
    EXPECT_TRUE(names.insert(name).second) << "duplicate " << name;
    EXPECT_EQ(ExtractFilePath(name), fDir.Path() + "/");
    EXPECT_EQ(ExtractFileExt(name), ".tmp");
    struct stat info;
    ASSERT_EQ(::stat(name.c_str(), &info), 0);
    EXPECT_EQ(info.st_size, 0);
    mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(info.st_mode & 0777, 0666 & ~mask);
  }
}

TEST_F(FileSystemTest, TempFileInMissingDirectoryFails) {
  std::string name;
  EXPECT_EQ(CreateTempFile(fDir / "missing/", name).Why(), TSystemResult::TWhy::kNotFound);
  EXPECT_EQ(name, "");
}

TEST_F(FileSystemTest, RenameNoReplaceNeverReplacesAnything) {
  std::string from = fDir.WriteFile("from", "new");
  std::string taken = fDir.WriteFile("taken", "old");
  EXPECT_EQ(RenameNoReplace(from, taken).Why(), TSystemResult::TWhy::kNameTaken);
  EXPECT_EQ(test::ReadFileText(taken), "old");
  EXPECT_EQ(RenameNoReplace(from, fSubdir).Why(), TSystemResult::TWhy::kNameTaken);
  EXPECT_TRUE(RenameNoReplace(from, fDir / "free").Ok());
  EXPECT_EQ(test::ReadFileText(fDir / "free"), "new");
  EXPECT_FALSE(FileExists(from));
}

TEST_F(FileSystemTest, RenameReplacingSwapsContentAtomically) {
  std::string from = fDir.WriteFile("from", "new");
  std::string taken = fDir.WriteFile("taken", "old");
  EXPECT_TRUE(RenameReplacing(from, taken).Ok());
  EXPECT_EQ(test::ReadFileText(taken), "new");
  EXPECT_EQ(RenameReplacing(taken, fSubdir).Reason(), "Is a directory");
}

// Where the build may ask which cores the process may run on, only those count; elsewhere (the
// portable build, macOS) every core that is on does.
TEST(AvailableCores, TheCoresThisProcessMayUseWhereTheSystemTells) {
  cpu_set_t saved;
  ASSERT_EQ(::sched_getaffinity(0, sizeof saved, &saved), 0);
  cpu_set_t one;
  CPU_ZERO(&one);
  for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
    if (CPU_ISSET(cpu, &saved)) {
      CPU_SET(cpu, &one);
      break;
    }
  }
  ASSERT_EQ(::sched_setaffinity(0, sizeof one, &one), 0);
  const int cores = AvailableCores();
  ::sched_setaffinity(0, sizeof saved, &saved);
  const long online = ::sysconf(_SC_NPROCESSORS_ONLN);
  EXPECT_EQ(cores, TARVIX_TEST_CORE_AFFINITY ? 1 : online);
}

// A folder that exists already (another run made it meanwhile) is success; anything else in
// the way is reported with its own reason.
TEST_F(FileSystemTest, CreateDirMakesOneLevelOnly) {
  fDir.WriteFile("file", "");
  using TWhy = TSystemResult::TWhy;
  EXPECT_TRUE(CreateDir(fDir / "one").Ok());
  EXPECT_TRUE(DirectoryExists(fDir / "one"));
  EXPECT_TRUE(CreateDir(fDir / "one").Ok());
  EXPECT_EQ(CreateDir(fDir / "two/three").Why(), TWhy::kNotFound);
  EXPECT_EQ(CreateDir(fDir / "file").Why(), TWhy::kNameTaken);
  EXPECT_EQ(CreateDir("").Why(), TWhy::kNotFound);
}

}  // namespace
}  // namespace tarvix
