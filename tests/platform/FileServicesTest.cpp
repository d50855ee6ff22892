// What every system's file services must do alike, run on each system's implementation: names
// in any script and of any length, temporary files placed safely, letter case where the file
// system ignores it, identities and times.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/DirectoryListing.h"
#include "platform/Errors.h"
#include "platform/FileNames.h"
#include "platform/FileStream.h"
#include "platform/FileSystem.h"
#include "platform/TempFileCleanup.h"
#include "support/TempDir.h"

namespace tarvix {
namespace {

using test::TTempDir;
using TWhy = TSystemResult::TWhy;

constexpr bool kOnWindows = kPathDelimiter == '\\';

void WriteWhole(const std::string& name, std::string_view content) {
  TFileSink sink(name);
  sink.WriteAt(0, content.data(), content.size());
  sink.Close();
}

std::string ReadWhole(const std::string& name) {
  TFileSource source(name);
  std::string content(source.Size(), '\0');
  content.resize(source.Read(content.data(), content.size()));
  return content;
}

std::vector<std::string> Listed(const std::string& dir) {
  TDirListing listing;
  std::vector<std::string> names;
  EXPECT_TRUE(listing.Open(dir, "*").Ok());
  for (bool more = listing.AtEntry(); more; more = listing.Next()) {
    names.push_back(listing.Current().name);
  }
  return names;
}

// A folder name that takes `name` past the old 260-character limit of Windows.
std::string LongFolder(const TTempDir& dir) {
  std::string path = dir.Path();
  for (int level = 0; path.size() < 300; ++level) {
    path += kPathDelimiter + std::string("folder-with-a-long-name-") + std::to_string(level);
  }
  return path;
}

TEST(FileServices, NamesInEveryScriptAndOfAnyLengthAreWrittenListedAndRenamed) {
  TTempDir dir;
  const std::string names[] = {
      "plain.wav",
      "Caf\xc3\xa9 cr\xc3\xa8me.wav",                                  // accents
      "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e.wav",                      // Japanese
      "\xf0\x9f\x8e\xb9 keys.wav",                                     // an emoji
      "\xd0\x91\xd0\xb0\xd1\x80\xd0\xb0\xd0\xb1\xd0\xb0\xd0\xbd.wav",  // Cyrillic
  };
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    const std::string folder = dir.Path() + kPathDelimiter + "in " + name + ".d";
    ASSERT_TRUE(CreateDir(folder).Ok());
    EXPECT_TRUE(DirectoryExists(folder));
    const std::string file = folder + kPathDelimiter + name;
    WriteWhole(file, name);
    EXPECT_TRUE(FileExists(file));
    EXPECT_EQ(ReadWhole(file), name);
    EXPECT_EQ(Listed(folder), std::vector<std::string>{name});
    const std::string renamed = folder + kPathDelimiter + "2 " + name;
    EXPECT_TRUE(RenameNoReplace(file, renamed).Ok());
    EXPECT_EQ(ReadWhole(renamed), name);
    EXPECT_FALSE(NameTaken(file));
  }

  const std::string deep = LongFolder(dir);
  for (size_t at = deep.find(kPathDelimiter, dir.Path().size() + 1); at != std::string::npos;
       at = deep.find(kPathDelimiter, at + 1)) {
    ASSERT_TRUE(CreateDir(deep.substr(0, at)).Ok()) << at;
  }
  ASSERT_TRUE(CreateDir(deep).Ok());
  const std::string longName = deep + kPathDelimiter + "kick.wav";
  ASSERT_GT(longName.size(), 300u);
  WriteWhole(longName, "deep");
  EXPECT_EQ(ReadWhole(longName), "deep");
  EXPECT_EQ(Listed(deep), std::vector<std::string>{"kick.wav"});
  TTempFile temp(deep + kPathDelimiter, "out.ncw");
  ASSERT_TRUE(temp.Created()) << temp.Creation().Reason();
  temp.Sink().WriteAt(0, "x", 1);
  temp.Close();
  EXPECT_TRUE(temp.PlaceWithoutReplacing(deep + kPathDelimiter + "out.ncw").Ok());
  EXPECT_EQ(ReadWhole(deep + kPathDelimiter + "out.ncw"), "x");
}

// Each way of placing against each thing that may hold the name by then.
TEST(FileServices, TempFilesArePlacedWithoutReplacingOrReplacingInOneStep) {
  enum class TTarget { kFree, kFile, kReadOnlyFile, kFolder };
  struct Case {
    const char* label;
    bool replacing;
    TTarget target;
    bool placed;
    std::string contentAfter;  // of the target name, when it is a file afterwards
  } cases[] = {
      {"free name", false, TTarget::kFree, true, "new"},
      {"free name, replacing", true, TTarget::kFree, true, "new"},
      {"a file", false, TTarget::kFile, false, "old"},
      {"a file, replacing", true, TTarget::kFile, true, "new"},
      {"a read-only file", false, TTarget::kReadOnlyFile, false, "old"},
      {"a folder", false, TTarget::kFolder, false, ""},
      {"a folder, replacing", true, TTarget::kFolder, false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    TTempDir dir;
    const std::string target = dir / "out.ncw";
    if (c.target == TTarget::kFile || c.target == TTarget::kReadOnlyFile) {
      dir.WriteFile("out.ncw", "old");
    }
    if (c.target == TTarget::kReadOnlyFile) {
      namespace fs = std::filesystem;
      const fs::perms writable =
          fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
      fs::permissions(target, writable, fs::perm_options::remove);
      EXPECT_FALSE(IsWritableFile(target));
    }
    if (c.target == TTarget::kFolder) dir.MakeDir("out.ncw");
    TSystemResult placing;
    {
      TTempFile temp(dir.Path() + kPathDelimiter, "out.ncw");
      ASSERT_TRUE(temp.Created()) << temp.Creation().Reason();
      temp.Sink().WriteAt(0, "new", 3);
      temp.Close();
      std::unique_ptr<TFileSource> readBack = temp.OpenForReading();
      char bytes[3] = {};
      EXPECT_EQ(readBack->ReadAt(0, bytes, 3), 3u);
      EXPECT_EQ(std::string(bytes, 3), "new");
      readBack.reset();
      placing = c.replacing ? temp.PlaceReplacing(target) : temp.PlaceWithoutReplacing(target);
    }
    EXPECT_EQ(placing.Ok(), c.placed) << placing.Reason();
    if (!c.placed && !c.replacing) {
      EXPECT_EQ(placing.Why(), TWhy::kNameTaken);
    }
    if (!c.contentAfter.empty()) {
      EXPECT_EQ(test::ReadFileText(target), c.contentAfter);
    }
    // Placed or not, no temporary file is left once its owner is gone.
    const std::vector<std::string> left = dir.List();
    EXPECT_EQ(left, std::vector<std::string>{"out.ncw"});
  }
}

TEST(FileServices, LetterCaseCountsOnlyWhereTheFileSystemKeepsIt) {
  TTempDir dir;
  dir.WriteFile("KICK.NCW", "x");
  // Windows (and Wine over any file system) ignores the case of names; POSIX file systems do
  // not, so there "kick.ncw" is a free name.
  EXPECT_EQ(NameTaken(dir / "kick.ncw"), kOnWindows);
  EXPECT_EQ(FileExists(dir / "Kick.Ncw"), kOnWindows);
  EXPECT_TRUE(NameTaken(dir / "KICK.NCW"));
}

TEST(FileServices, IdentitiesTellFilesApartAndTimesComeBackAsWritten) {
  TTempDir dir;
  const std::string a = dir.WriteFile("a.wav", "a");
  const std::string b = dir.WriteFile("b.wav", "b");
  TFileId idA, idAgain, idB;
  ASSERT_TRUE(IdentifyFile(a, idA).Ok());
  ASSERT_TRUE(
      IdentifyFile(dir.Path() + kPathDelimiter + "." + kPathDelimiter + "a.wav", idAgain).Ok());
  ASSERT_TRUE(IdentifyFile(b, idB).Ok());
  EXPECT_EQ(idA, idAgain);
  EXPECT_FALSE(idA == idB);
  EXPECT_EQ(IdentifyFile(dir / "missing.wav", idB).Why(), TWhy::kNotFound);

  // Whole 100-nanosecond steps, the finest that every system keeps.
  const TFileTimes written = {1'500'000'000, 123'456'700, 1'600'000'000, 987'654'300};
  ASSERT_TRUE(WriteFileTimes(a, written).Ok());
  TFileTimes read;
  ASSERT_TRUE(ReadFileTimes(a, read).Ok());
  EXPECT_EQ(read.modifySeconds, written.modifySeconds);
  EXPECT_EQ(read.modifyNanoseconds, written.modifyNanoseconds);
  EXPECT_EQ(read.accessSeconds, written.accessSeconds);
  EXPECT_EQ(read.accessNanoseconds, written.accessNanoseconds);
}

TEST(FileServices, ReasonsReadTheSameOnEverySystem) {
  TTempDir dir;
  dir.WriteFile("taken", "");
  dir.MakeDir("folder");
  struct Case {
    const char* label;
    TSystemResult result;
    TWhy why;
    std::string reason;
  } cases[] = {
      {"missing folder", CreateDir(dir / "missing/deeper"), TWhy::kNotFound,
       "No such file or directory"},
      {"taken name", RenameNoReplace(dir / "folder", dir / "taken"), TWhy::kNameTaken,
       "File exists"},
      {"temporary file in a missing folder",
       TTempFile(dir.Path() + kPathDelimiter + "gone" + kPathDelimiter).Creation(), TWhy::kNotFound,
       "No such file or directory"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(c.result.Why(), c.why);
    EXPECT_EQ(c.result.Reason(), c.reason);
    EXPECT_EQ(c.result.Fault(TFault::kOutput), TFault::kOutput);
  }
}

}  // namespace
}  // namespace tarvix
