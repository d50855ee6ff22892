// The program as a user runs it: exit statuses and the command line's refusals end to end.
#include <gtest/gtest.h>

#include "support/ProcessHarness.h"
#include "support/TempDir.h"

namespace tarvix {
namespace {

TEST(ProgramEndToEnd, CommandLineRefusalsExitWithTwoAndTouchNothing) {
  test::TTempDir dir;
  dir.WriteFile("a.wav", "");
  dir.MakeDir("samples");
  struct Case {
    std::vector<std::string> args;
    std::vector<std::string> lines;
  } cases[] = {
      {{"-w2n", "-rw"},
       {"ERROR: At least one non-flag parameter must be used",
        "       tarvix [flags] file|dir [file|dir]..."}},
      {{"missing.wav"}, {"ERROR: 'missing.wav' file or directory doesn't exist"}},
      {{"samples"}, {"ERROR: Convert direction must be specified (-w2n or -n2w flags)"}},
      {{"-rw", "a.wav", "-rec"}, {"ERROR: wrong parameter '-rec' - files must be WAV or NCW"}},
      {{"-l", "samples"}, {"ERROR: 'samples' list file doesn't exist"}},
  };
  for (const auto& c : cases) {
    for (bool terminal : {false, true}) {
      SCOPED_TRACE(testing::PrintToString(c.args));
      test::TProcessOptions options;
      options.workingDirectory = dir.Path();
      if (terminal) options.terminalWidth = 80;
      test::TProcessResult result = test::RunTarvix(c.args, options);
      EXPECT_EQ(result.exitCode, 2);
      EXPECT_EQ(result.err, "");
      EXPECT_EQ(test::Lines(result.out), c.lines);
      EXPECT_EQ(dir.List(), (std::vector<std::string>{"a.wav", "samples"}));
    }
  }
}

}  // namespace
}  // namespace tarvix
