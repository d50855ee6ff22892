// The temporary files of the conversions in progress, and their removal on every way out:
// normal return, an error unwinding a job, or an interrupting signal.
//
// Where the system allows it, the system itself removes a temporary file whatever ends the
// process, even SIGKILL: on Linux it has no name at all until it is placed, and no folder
// listing ever shows it; on Windows it is marked for deletion until the moment it is placed.
// Elsewhere it is a named file ("tarvix-XXXXXX.tmp") that the signal handler removes.
#pragma once

#include <memory>
#include <string>

#include "platform/Errors.h"
#include "platform/FileStream.h"

namespace tarvix {

// How many named temporary files may exist at once.
constexpr int kMaxTempFiles = 1024;

// On POSIX systems, installs handlers for SIGINT, SIGTERM, SIGHUP and SIGPIPE that remove every
// named temporary file in progress and then end the process as the signal would have (so the
// exit status is the conventional one). Also ignores SIGXFSZ, so that a file-size limit shows up
// as a failed write (EFBIG) that is reported, not as a silent kill. On Windows, installs a
// console handler that lets a placement in progress finish before Ctrl-C, Ctrl-Break or closing
// the console ends the process.
void InstallTempFileCleanup();

// Makes every later temporary file a named one, as on a file system without unnamed files; for
// tests of that way.
void UseNamedTempFiles();

// Keeps those signals away from the calling thread, so that they reach the thread that started
// the run; worker threads call it first (nothing to do on Windows).
void BlockCleanupSignalsInThisThread();

struct TTempFileSystem;

// Owns one temporary file from its creation to its placement under the final name, with its
// descriptor (or handle) open for writing until Close.
class TTempFile {
 public:
  // Creates an empty file in `dir` ("" for the current directory, else ending in the
  // delimiter). Created() is false when the system refused; Creation() then tells why. Write
  // errors name the file `displayName` (the output the user asked for).
  explicit TTempFile(const std::string& dir, const std::string& displayName = {});
  ~TTempFile();  // removes the file unless it was placed
  TTempFile(const TTempFile&) = delete;
  TTempFile& operator=(const TTempFile&) = delete;

  bool Created() const { return fSink != nullptr; }
  TSystemResult Creation() const { return fCreation; }
  // The file's name; empty while it has none.
  const std::string& Name() const { return fName; }
  TFileSink& Sink() { return *fSink; }
  // Closes the descriptor, raising TFileError when the data may not have reached the file.
  void Close();
  // The finished file opened for reading, to read back what reached it, through the
  // descriptor it was written through where that is still open (so no descriptor more is
  // taken); the source must go before this object.
  std::unique_ptr<TFileSource> OpenForReading() const;
  // A name this process opens the file by while it exists (its entry in /proc while it has no
  // name of its own). The file stays one the system removes when the process ends.
  std::string ReadableName();

  // Fills the empty file with everything that can be read from `fd` (a pipe: read once, in
  // order) and returns the byte count. Raises TFileError, read errors naming `sourceName`.
  uint64_t FillFrom(TFileHandle fd, const std::string& sourceName);
  // Writes the whole file to `fd` in order. Raises TFileError naming `targetName`.
  void CopyInto(TFileHandle fd, const std::string& targetName);

  // Gives the file the name `target` unless that name exists (kNameTaken then); once done, the
  // file is placed.
  TSystemResult PlaceWithoutReplacing(const std::string& target);
  // Gives the file the name `target`, replacing whatever has that name in one atomic step.
  TSystemResult PlaceReplacing(const std::string& target);

 private:
  friend struct TTempFileSystem;  // each system's way of making and placing the file

  std::string fDir;
  std::string fDisplayName;
  std::string fName;
  TFileHandle fFd = kNoFileHandle;  // open until Close; an unnamed file needs it to be placed
  int fSlot = -1;                   // the entry the signal handler removes a named file by
  TSystemResult fCreation;          // why the file could not be made
  std::unique_ptr<TFileSink> fSink;
};

}  // namespace tarvix
