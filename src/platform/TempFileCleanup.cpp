#include "platform/TempFileCleanup.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "platform/FileSystem.h"

namespace tarvix {

namespace {

// SIGBUS arrives when a mapped source file is cut shorter by another program while it is read.
constexpr int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGBUS};

constexpr char kSourceChanged[] = "\nERROR: a source file was cut short while it was read\n";

// Read by the signal handler, so plain memory: the path of the file to remove when armed.
char gPendingPath[PATH_MAX + 1];
volatile sig_atomic_t gArmed = 0;

sigset_t gHeldSignals;  // the set blocked while the slot changes
sigset_t gSavedMask;

extern "C" void RemoveTempFileAndDie(int signalNumber) {
  if (gArmed) ::unlink(gPendingPath);
  if (signalNumber == SIGBUS) {
    ssize_t ignored = ::write(STDERR_FILENO, kSourceChanged, sizeof kSourceChanged - 1);
    (void)ignored;
  }
  // Die by the same signal, so that the parent sees the conventional status.
  ::signal(signalNumber, SIG_DFL);
  ::raise(signalNumber);
}

void Arm(const std::string& name) {
  if (name.size() > PATH_MAX) return;  // mkstemp could not have made it
  std::memcpy(gPendingPath, name.c_str(), name.size() + 1);
  gArmed = 1;
}

}  // namespace

void InstallTempFileCleanup() {
  sigemptyset(&gHeldSignals);
  for (int signalNumber : kCleanupSignals) {
    sigaddset(&gHeldSignals, signalNumber);
    struct sigaction action = {};
    action.sa_handler = RemoveTempFileAndDie;
    sigemptyset(&action.sa_mask);
    ::sigaction(signalNumber, &action, nullptr);
  }
  ::signal(SIGXFSZ, SIG_IGN);
}

TTempFile::TTempFile(const std::string& dir) {
  BlockSignals();
  fName = CreateTempFile(dir);
  int error = errno;
  if (!fName.empty()) Arm(fName);
  UnblockSignals();
  errno = error;
}

TTempFile::~TTempFile() {
  if (fName.empty()) return;
  BlockSignals();
  DeleteFileName(fName);
  Forget();
  UnblockSignals();
}

void TTempFile::BlockSignals() {
  ::sigprocmask(SIG_BLOCK, &gHeldSignals, &gSavedMask);
}

void TTempFile::UnblockSignals() {
  ::sigprocmask(SIG_SETMASK, &gSavedMask, nullptr);
}

void TTempFile::Forget() {
  gArmed = 0;
  fName.clear();
}

}  // namespace tarvix
