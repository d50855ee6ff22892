// Awkward names: blanks, UTF-8 letters, leading dashes, "..", names that differ only in letter
// case, and paths near the system's limit. Converted correctly or refused with a clear message.
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <filesystem>

#include "support/Fixtures.h"
#include "support/ProcessHarness.h"

namespace tarvix {
namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;

test::TProcessResult RunIn(const test::TTempDir& dir, const std::vector<std::string>& args,
                           const std::string& workingDirectory = {}) {
  test::TProcessOptions options;
  options.workingDirectory = workingDirectory;
  return test::RunTarvixIn(dir, args, options);
}

TEST(Names, BlanksLettersDashesAndDotDotAreJustNames) {
  test::TTempDir dir;
  struct Case {
    std::vector<std::string> args;
    std::string source, output;
  } cases[] = {
      {{"my kick .wav"}, "my kick .wav", "my kick .ncw"},
      {{"Kl\xC3\xA4nge/Gr\xC3\xB6\xC3\x9F"
        "e \xC3\xBC.wav"},
       "Kl\xC3\xA4nge/Gr\xC3\xB6\xC3\x9F"
       "e \xC3\xBC.wav",
       "Kl\xC3\xA4nge/Gr\xC3\xB6\xC3\x9F"
       "e \xC3\xBC.ncw"},
      {{"a.wav", "-dash.wav"}, "-dash.wav", "-dash.ncw"},
      {{"a.wav", "--.ncw"}, "a.wav", "--.ncw"},
      {{"sub/../b.wav", "sub/../out/b.ncw"}, "b.wav", "out/b.ncw"},
      {{" lead.wav"}, " lead.wav", " lead.ncw"},
  };
  dir.MakeDir("sub");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.output);
    test::WriteWav(dir, c.source);
    if (c.source != "a.wav") test::WriteWav(dir, "a.wav");
    test::TProcessResult result = RunIn(dir, c.args);
    EXPECT_EQ(result.exitCode, 0) << result.out << result.err;
    EXPECT_EQ(test::NcwSampleBytes(dir / c.output), test::WavSampleBytes(dir / c.source));
  }
  // From below, upwards.
  test::TProcessResult up = RunIn(dir, {"-n2w", "..", "../back"}, dir / "sub");
  EXPECT_EQ(up.exitCode, 0) << up.out;
  EXPECT_TRUE(fs::exists(dir / "back/my kick .wav"));
  EXPECT_TRUE(fs::exists(dir / "back/-dash.wav"));
}

TEST(Names, NamesDifferingOnlyInLetterCaseStayApart) {
  test::TTempDir dir;
  test::WriteWav(dir, "In/Kick.wav", 16, 1, 44100, 500, 1);
  test::WriteWav(dir, "In/kick.wav", 16, 1, 44100, 500, 2);
  test::WriteWav(dir, "In/KICK.WAV", 16, 1, 44100, 500, 3);
  ASSERT_EQ(RunIn(dir, {"-w2n", "In"}).exitCode, 0);
  for (const char* base : {"In/Kick", "In/kick", "In/KICK"}) {
    std::string source = std::string(base) + (std::string(base) == "In/KICK" ? ".WAV" : ".wav");
    EXPECT_EQ(test::NcwSampleBytes(dir / (std::string(base) + ".ncw")),
              test::WavSampleBytes(dir / source))
        << base;
  }
}

TEST(Names, PathsNearTheSystemsLimit) {
  test::TTempDir dir;
  // Folders of 200 characters, nested until the relative path is just under PATH_MAX once
  // the temporary file's name is added.
  std::string relative;
  const size_t budget = PATH_MAX - dir.Path().size() - 1;  // absolute names must fit too
  while (relative.size() + 201 + 255 < budget) {
    relative += std::string(200, static_cast<char>('a' + relative.size() / 201 % 26)) + "/";
  }
  fs::create_directories(dir / relative);
  std::string longest = relative + std::string(255 - 4, 'z') + ".wav";  // a full-length name
  test::WriteWav(dir, longest);
  test::TProcessResult result = RunIn(dir, {longest});
  EXPECT_EQ(result.exitCode, 0) << result.out << result.err;
  std::string output = longest.substr(0, longest.size() - 4) + ".ncw";
  EXPECT_EQ(test::NcwSampleBytes(dir / output), test::WavSampleBytes(dir / longest));

  // One level more passes the limit: refused with the system's reason, no crash.
  std::string tooLong = relative + std::string(200, 'q') + "/" + std::string(200, 'r') + ".wav";
  result = RunIn(dir, {tooLong});
  EXPECT_EQ(result.exitCode, 2);
  EXPECT_EQ(result.out, "ERROR: '" + tooLong + "' file or directory doesn't exist\n");
  std::string deeper;  // an output folder whose name alone passes the limit
  while (relative.size() + deeper.size() < PATH_MAX + 100) deeper += std::string(200, 'o') + "/";
  result = RunIn(dir, {longest, relative + deeper + "out.ncw"});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_NE(result.err.find("ERROR: Can't create temporary file"), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("(File name too long)"), std::string::npos) << result.err;
}

}  // namespace
}  // namespace tarvix
