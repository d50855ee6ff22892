// How names are taken apart and text files split into lines: the same rules on every system,
// apart from the delimiters each system has.
#include "platform/FileNames.h"

#include <gtest/gtest.h>

#include "platform/Errors.h"
#include "platform/FileSystem.h"
#include "support/TempDir.h"

namespace tarvix {
namespace {

using test::TTempDir;

constexpr bool kOnWindows = kPathDelimiter == '\\';

TEST(SplitTextLines, SplitsAtEveryKindOfLineEndAndStopsAtNul) {
  using Lines = std::vector<std::string>;
  struct Case {
    std::string text;
    Lines lines;
  } cases[] = {
      {"", {}},
      {"a", {"a"}},
      {"a\n", {"a"}},
      {"a\nb", {"a", "b"}},
      {"a\rb", {"a", "b"}},
      {"a\r\nb\r\n", {"a", "b"}},
      {"a\n\rb", {"a", "", "b"}},  // LF then CR: two line ends
      {"a\r\r\nb", {"a", "", "b"}},
      {"\n\n", {"", ""}},
      {std::string("a\nb\0c\nd", 7), {"a", "b"}},
      {std::string("\0a", 2), {}},
      {"  padded \t", {"  padded \t"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.text));
    EXPECT_EQ(SplitTextLines(c.text), c.lines);
  }
}

TEST(ReadTextFileLines, ReadsWholeFileAndReportsMissingOne) {
  TTempDir dir;
  std::string name = dir.WriteFile("list.txt", std::string("one\r\ntwo\rthree\nfour\0five", 24));
  EXPECT_EQ(ReadTextFileLines(name), (std::vector<std::string>{"one", "two", "three", "four"}));
  EXPECT_THROW(ReadTextFileLines(dir / "missing.txt"), TFileError);
}

TEST(FileNames, ExtensionsPathsAndCase) {
  struct Case {
    std::string name, ext, changed, path;
  } cases[] = {
      {"PIANO.WAV", ".WAV", "PIANO.ncw", ""},
      {"/a/b/kick.Ncw", ".Ncw", "/a/b/kick.ncw", "/a/b/"},
      {"dir.x/name", "", "dir.x/name.ncw", "dir.x/"},
      {"noext", "", "noext.ncw", ""},
      {"a.b.c", ".c", "a.b.ncw", ""},
      {"trailing.", ".", "trailing.ncw", ""},
      {"dir/", "", "dir/.ncw", "dir/"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ExtractFileExt(c.name), c.ext);
    EXPECT_EQ(ChangeFileExt(c.name, ".ncw"), c.changed);
    EXPECT_EQ(ExtractFilePath(c.name), c.path);
  }
  // Where "\\" and a drive's colon end a folder's part, and where they are letters like any
  // other.
  const Case systemCases[] = {
      kOnWindows ? Case{"D:\\Kit\\KICK.WAV", ".WAV", "D:\\Kit\\KICK.ncw", "D:\\Kit\\"}
                 : Case{"D:\\Kit\\KICK.WAV", ".WAV", "D:\\Kit\\KICK.ncw", ""},
      kOnWindows ? Case{"D:KICK.WAV", ".WAV", "D:KICK.ncw", "D:"}
                 : Case{"D:KICK.WAV", ".WAV", "D:KICK.ncw", ""},
      kOnWindows ? Case{"a.b\\noext", "", "a.b\\noext.ncw", "a.b\\"}
                 : Case{"a.b\\noext", ".b\\noext", "a.ncw", ""},
      kOnWindows ? Case{"\\\\server\\share\\x.wav", ".wav", "\\\\server\\share\\x.ncw",
                        "\\\\server\\share\\"}
                 : Case{"\\\\server\\share\\x.wav", ".wav", "\\\\server\\share\\x.ncw", ""},
      kOnWindows ? Case{"mixed/sub\\k.wav", ".wav", "mixed/sub\\k.ncw", "mixed/sub\\"}
                 : Case{"mixed/sub\\k.wav", ".wav", "mixed/sub\\k.ncw", "mixed/"},
  };
  for (const Case& c : systemCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ExtractFileExt(c.name), c.ext);
    EXPECT_EQ(ChangeFileExt(c.name, ".ncw"), c.changed);
    EXPECT_EQ(ExtractFilePath(c.name), c.path);
  }
  EXPECT_EQ(UpperCaseAscii("a.Wav\xc3\xa9"), "A.WAV\xc3\xa9");
  EXPECT_EQ(LowerCaseAscii("A.NCW"), "a.ncw");
  EXPECT_EQ(TrimControlAndBlanks(" \t\x01x y\r\n "), "x y");
  EXPECT_EQ(TrimControlAndBlanks(" \t "), "");
}

TEST(FileNames, TrailingDelimitersAndDrives) {
  const std::string d(1, kPathDelimiter);
  struct Case {
    std::string path, withDelimiter;
  } cases[] = {
      {"", d},
      {"Kit", "Kit" + d},
      {"Kit/", "Kit/"},
      {"Kit" + d, "Kit" + d},
      {"D:", kOnWindows ? "D:" : "D:" + d},  // "D:\\" would be the root, not D:'s folder
      {"Kit\\", kOnWindows ? "Kit\\" : "Kit\\" + d},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(AddTrailingDelimiter(c.path), c.withDelimiter);
    EXPECT_TRUE(EndsInDelimiter(c.withDelimiter));
  }
  EXPECT_TRUE(IsPathDelimiter('/'));
  EXPECT_EQ(IsPathDelimiter('\\'), kOnWindows);
  EXPECT_FALSE(IsPathDelimiter(':'));
}

}  // namespace
}  // namespace tarvix
