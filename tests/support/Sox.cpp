#include "support/Sox.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "support/ProcessHarness.h"

namespace tarvix::test {

std::string FindProgram(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path ? path : "/usr/bin:/bin");
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    std::string candidate = dir + "/" + name;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return {};
}

bool MakeSoxWav(const std::string& name, int bits, int channels, int rate, double seconds,
                const std::string& type) {
  std::string sox = FindProgram("sox");
  if (sox.empty()) return false;
  std::filesystem::create_directories(std::filesystem::path(name).parent_path());
  TProcessResult result = RunProcess(sox, {"-R",
                                           "-n",
                                           "-r",
                                           std::to_string(rate),
                                           "-b",
                                           std::to_string(bits),
                                           "-c",
                                           std::to_string(channels),
                                           "-t",
                                           type,
                                           name,
                                           "synth",
                                           std::to_string(seconds),
                                           "sine",
                                           "220",
                                           "sine",
                                           "331",
                                           "whitenoise",
                                           "vol",
                                           "0.8"});
  return result.exitCode == 0;
}

}  // namespace tarvix::test
