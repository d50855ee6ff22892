#include "batch/FileSearch.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <optional>

#include "support/TempDir.h"

namespace tarvix {
namespace {

std::vector<std::string> FindAll(const std::string& searchSpec, bool recursive) {
  TFileSearch search(searchSpec, recursive);
  std::vector<std::string> found;
  while (std::optional<std::string> file = search.Next()) found.push_back(*file);
  EXPECT_EQ(search.Next(), std::nullopt);  // stays at the end
  return found;
}

class FileSearchTest : public ::testing::Test {
 protected:
  // R/ b.wav A.WAV .hidden.wav x.ncw x.wav/ (a folder)  A/ a1.wav  A/A1/ deep.Wav  B/ (empty)
  //   C/ c.wav
  void SetUp() override {
    for (const char* name : {"b.wav", "A.WAV", ".hidden.wav", "x.ncw", "A/a1.wav", "A/A1/deep.Wav",
                             "C/c.wav", "x.wav/inside.wav"}) {
      fDir.WriteFile(std::string("R/") + name, "");
    }
    fDir.MakeDir("R/B");
    fRoot = fDir / "R/";
  }
  test::TTempDir fDir;
  std::string fRoot;
};

TEST_F(FileSearchTest, RootFilesFirstThenEachFolderInDepthFirstOrder) {
  EXPECT_EQ(FindAll(fRoot + "*.wav", true),
            (std::vector<std::string>{fRoot + ".hidden.wav", fRoot + "A.WAV", fRoot + "b.wav",
                                      fRoot + "A/a1.wav", fRoot + "A/A1/deep.Wav",
                                      fRoot + "C/c.wav", fRoot + "x.wav/inside.wav"}));
}

TEST_F(FileSearchTest, WithoutRecursionOnlyTheRootIsListed) {
  EXPECT_EQ(FindAll(fRoot + "*.wav", false),
            (std::vector<std::string>{fRoot + ".hidden.wav", fRoot + "A.WAV", fRoot + "b.wav"}));
  EXPECT_EQ(FindAll(fRoot + "A/A1/*.ncw", false), std::vector<std::string>{});
  EXPECT_EQ(FindAll(fRoot + "B/*.wav", true), std::vector<std::string>{});
  EXPECT_EQ(FindAll(fDir / "missing/*.wav", true), std::vector<std::string>{});
}

TEST_F(FileSearchTest, AnEmptyRootStillLeadsToTheFilesBelowIt) {
  EXPECT_EQ(FindAll(fRoot + "A/*.WAV", true),
            (std::vector<std::string>{fRoot + "A/a1.wav", fRoot + "A/A1/deep.Wav"}));
  EXPECT_EQ(FindAll(fRoot + "*.ncw", true), (std::vector<std::string>{fRoot + "x.ncw"}));
}

// Empty folders are no failure; folders that cannot be read are noted, with or without
// recursion, also when a folder the walk found can no longer be read when its files are listed.
// (Folders that may not be read for want of permission are run as nobody end to end.)
TEST_F(FileSearchTest, FoldersThatCannotBeReadAreNotedWithTheReason) {
  const std::string root = fRoot;
  const struct {
    std::string spec;
    bool recursive;
    std::vector<std::pair<std::string, std::string>> unread;
    std::function<void()> afterTheWalk;
  } cases[] = {
      {fRoot + "*.wav", true, {}, {}},
      {fRoot + "B/*.wav", false, {}, {}},
      {fDir / "missing/*.wav", true, {{fDir / "missing/", "No such file or directory"}}, {}},
      {fDir / "missing/*.wav", false, {{fDir / "missing/", "No such file or directory"}}, {}},
      {fRoot + "b.wav/*.wav", false, {{fRoot + "b.wav/", "Not a directory"}}, {}},
      {fRoot + "*.wav",
       true,
       {{fRoot + "C/", "Not a directory"}},
       [&] {
         std::filesystem::remove_all(root + "C");
         fDir.WriteFile("R/C", "");
       }},
      {fRoot + "*.wav",
       true,
       {{fRoot + "A/A1/", "No such file or directory"}},
       [&] { std::filesystem::remove_all(root + "A/A1"); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.spec);
    TFileSearch search(c.spec, c.recursive);
    if (c.afterTheWalk) {
      c.afterTheWalk();
      while (search.Next()) {
      }
    }
    std::vector<std::pair<std::string, std::string>> unread;
    for (const TUnreadFolder& folder : search.UnreadFolders()) {
      unread.emplace_back(folder.folder, folder.reason);
    }
    EXPECT_EQ(unread, c.unread);
  }
}

TEST_F(FileSearchTest, ASearchSpecWithoutFolderSearchesTheCurrentDirectory) {
  test::TWorkingDirectory cwd(fRoot + "C");
  EXPECT_EQ(FindAll("*.wav", true), (std::vector<std::string>{"./c.wav"}));
}

TEST_F(FileSearchTest, LinksToFoldersAreFollowedButALoopIsNotEnteredAgain) {
  ASSERT_EQ(::symlink((fRoot + "A").c_str(), (fRoot + "A/A1/up").c_str()), 0);
  ASSERT_EQ(::symlink((fRoot + "C").c_str(), (fRoot + "B/toC").c_str()), 0);
  std::vector<std::string> found = FindAll(fRoot + "*.wav", true);
  EXPECT_EQ(found, (std::vector<std::string>{fRoot + ".hidden.wav", fRoot + "A.WAV",
                                             fRoot + "b.wav", fRoot + "A/a1.wav",
                                             fRoot + "A/A1/deep.Wav", fRoot + "B/toC/c.wav",
                                             fRoot + "C/c.wav", fRoot + "x.wav/inside.wav"}));
}

}  // namespace
}  // namespace tarvix
