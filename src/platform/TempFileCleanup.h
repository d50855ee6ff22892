// The temporary files of the conversions in progress, and their removal on every way out:
// normal return, an error unwinding a job, or an interrupting signal.
#pragma once

#include <memory>
#include <string>

#include "platform/FileStream.h"

namespace tarvix {

// How many temporary files may exist at once.
constexpr int kMaxTempFiles = 1024;

// Installs handlers for SIGINT, SIGTERM, SIGHUP and SIGPIPE that remove every temporary file in
// progress and then end the process as the signal would have (so the exit status is the
// conventional one). Also ignores SIGXFSZ, so that a file-size limit shows up as a failed write
// (EFBIG) that is reported, not as a silent kill.
void InstallTempFileCleanup();

// Keeps those signals away from the calling thread, so that they reach the thread that started
// the run; worker threads call it first.
void BlockCleanupSignalsInThisThread();

// Owns one temporary file from its creation to its placement under the final name, with its
// descriptor open for writing until Close.
class TTempFile {
 public:
  // Creates an empty file with a unique name in `dir` ("" for the current directory, else ending
  // in the delimiter). Empty Name() when the system refused; errno then tells why. Write errors
  // name the file `displayName` (the output the user asked for), or the temporary name.
  explicit TTempFile(const std::string& dir, const std::string& displayName = {});
  ~TTempFile();  // removes the file unless it was placed
  TTempFile(const TTempFile&) = delete;
  TTempFile& operator=(const TTempFile&) = delete;

  const std::string& Name() const { return fName; }
  TFileSink& Sink() { return *fSink; }
  // Closes the descriptor, raising TFileError when the data may not have reached the file.
  void Close() { fSink->Close(); }

  // Moves the file to `target` with `rename` (a callable taking the two names and returning 0
  // or an errno) while signals are held back, so that an interrupt cannot strike between the
  // move and forgetting the old name. Returns the callable's result; on 0 the file is placed.
  template <class RenameFn>
  int PlaceAs(const std::string& target, RenameFn rename);

 private:
  void BlockSignals();
  void UnblockSignals();
  void Forget();

  std::string fName;
  int fSlot = -1;  // the entry the signal handler removes the file by
  std::unique_ptr<TFileSink> fSink;
};

template <class RenameFn>
int TTempFile::PlaceAs(const std::string& target, RenameFn rename) {
  BlockSignals();
  int result = rename(fName, target);
  if (result == 0) Forget();
  UnblockSignals();
  return result;
}

}  // namespace tarvix
