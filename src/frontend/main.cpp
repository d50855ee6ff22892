#include <string>
#include <vector>

#include "frontend/Console.h"
#include "frontend/Program.h"
#include "platform/FileSystem.h"
#include "platform/TempFileCleanup.h"
#include "platform/Terminal.h"

int main(int argc, char** argv) {
  tarvix::PrepareForManyThreads();
  tarvix::InstallTempFileCleanup();
  const std::vector<std::string> args = tarvix::ProgramArguments(argc, argv);
  tarvix::TConsole console(tarvix::StandardOutput());
  return tarvix::RunTarvix(args, console, tarvix::StandardError());
}
