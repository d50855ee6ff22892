#include "platform/DirectoryListing.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/TempDir.h"

namespace tarvix {
namespace {

TEST(MatchesMask, WildcardsAndLetterCase) {
  struct Case {
    const char* name;
    const char* mask;
    bool match;
  } cases[] = {
      {"a.wav", "*.wav", true},
      {"B.WAV", "*.wav", true},
      {"b.Wav", "*.WAV", true},
      {"a.wav.bak", "*.wav", false},
      {"a.wavx", "*.wav", false},
      {"wav", "*.wav", false},
      {".wav", "*.wav", true},
      {".hidden.wav", "*.wav", true},
      {"x.ncw", "*.wav", false},
      {"a1.wav", "a?.wav", true},
      {"a12.wav", "a?.wav", false},
      {"a\xc3\xa9.wav", "a?.wav", true},  // "?" is one letter, even a two-byte one
      {"anything", "*", true},
      {"noext", "*.*", true},
      {"with.dot", "*.*", true},
      {"abcabd", "*abd", true},
      {"abcabc", "*abd", false},
      {"a*b", "a*b", true},
      {"", "*", true},
      {"", "?", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MatchesMask(c.name, c.mask), c.match) << c.name << " ~ " << c.mask;
  }
}

TEST(DirListing, ListsMatchingEntriesInNameOrderWithHiddenOnesAndDirectoryFlags) {
  test::TTempDir dir;
  dir.WriteFile("b.wav", "");
  dir.WriteFile("A.WAV", "");
  dir.WriteFile(".hidden.wav", "");
  dir.WriteFile("c.ncw", "");
  dir.MakeDir("folder.wav");
  ASSERT_EQ(::symlink((dir / "folder.wav").c_str(), (dir / "link.wav").c_str()), 0);

  TDirListing listing;
  ASSERT_TRUE(listing.Open(dir.Path(), "*.wav").Ok());
  ASSERT_TRUE(listing.AtEntry());
  std::vector<std::pair<std::string, bool>> seen;
  do {
    seen.emplace_back(listing.Current().name, listing.Current().isDirectory);
  } while (listing.Next());
  EXPECT_EQ(seen, (std::vector<std::pair<std::string, bool>>{{".hidden.wav", false},
                                                             {"A.WAV", false},
                                                             {"b.wav", false},
                                                             {"folder.wav", true},
                                                             {"link.wav", true}}));
}

TEST(DirListing, EmptyMissingOrUnmatchedFoldersYieldNothing) {
  test::TTempDir dir;
  dir.WriteFile("a.ncw", "");
  TDirListing listing;
  EXPECT_TRUE(listing.Open(dir.Path(), "*.wav").Ok());
  EXPECT_FALSE(listing.AtEntry());
  EXPECT_EQ(listing.Open(dir / "missing", "*").Why(), TSystemResult::TWhy::kNotFound);
  EXPECT_FALSE(listing.AtEntry());
  EXPECT_TRUE(listing.Open(dir.Path() + "/", "*").Ok());
  EXPECT_TRUE(listing.AtEntry());
  EXPECT_EQ(listing.Current().name, "a.ncw");
  EXPECT_FALSE(listing.Next());
}

}  // namespace
}  // namespace tarvix
