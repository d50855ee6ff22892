#include <unistd.h>

#include <string>
#include <vector>

#include "frontend/Console.h"
#include "frontend/Program.h"
#include "platform/FileSystem.h"
#include "platform/TempFileCleanup.h"

int main(int argc, char** argv) {
  tarvix::PrepareForManyThreads();
  tarvix::InstallTempFileCleanup();
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  tarvix::TConsole console(STDOUT_FILENO);
  return tarvix::RunTarvix(args, console, STDERR_FILENO);
}
