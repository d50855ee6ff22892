// The temporary file of the conversion in progress, and its removal on every way out: normal
// return, an error unwinding the job, or an interrupting signal.
#pragma once

#include <string>

namespace tarvix {

// Installs handlers for SIGINT, SIGTERM, SIGHUP, SIGPIPE and SIGBUS (a mapped source cut short)
// that remove the temporary file in progress and then end the process as the signal would have
// (so the exit status is the conventional one). Also ignores SIGXFSZ, so that a file-size limit
// shows up as a failed write (EFBIG) that is reported, not as a silent kill.
void InstallTempFileCleanup();

// Owns one temporary file from its creation to its placement under the final name. Only one
// exists at a time: jobs run one after another.
class TTempFile {
 public:
  // Creates an empty file with a unique name in `dir` (ending in the delimiter). Empty Name()
  // when the system refused; errno then tells why.
  explicit TTempFile(const std::string& dir);
  ~TTempFile();  // removes the file unless it was placed
  TTempFile(const TTempFile&) = delete;
  TTempFile& operator=(const TTempFile&) = delete;

  const std::string& Name() const { return fName; }

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
