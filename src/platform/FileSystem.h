// The file-system services the program relies on, with the results its callers expect.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Errors.h"
#include "platform/FileHandle.h"
#include "platform/FileNames.h"

namespace tarvix {

// True only for an existing name that is not a directory; links are followed, so a dangling
// link does not exist.
bool FileExists(const std::string& name);

// True only for an existing directory (or a link to one).
bool DirectoryExists(const std::string& name);

// Whether `name` can be examined: done when it can be, or when nothing of that name exists;
// else why not (a folder on its way that may not be entered, a loop of links, a name too long).
TSystemResult Examine(const std::string& name);

// What tells one file or folder from every other while the run lasts.
struct TFileId {
  uint64_t device = 0;  // the file system (its volume)
  uint64_t inode = 0;   // the file within it
  bool operator==(const TFileId&) const = default;
};

// The identity of an existing name, links followed.
TSystemResult IdentifyFile(const std::string& name, TFileId& id);

// True when a directory entry of that name exists: a file, a folder, a link (even one that
// leads nowhere), a FIFO, a device. Such a name is never written over silently.
bool NameTaken(const std::string& name);

// The path with one path delimiter appended unless it already ends in one (or is a drive
// alone, "D:"); "" gives the delimiter alone.
std::string AddTrailingDelimiter(const std::string& path);

// True when the name itself is a symbolic link (not followed).
bool IsSymbolicLink(const std::string& name);

// True when the name itself is a regular file, not a link to one.
bool IsRegularFileItself(const std::string& name);

// Creates one directory level: done when the directory exists afterwards, also when another
// process made it meanwhile.
TSystemResult CreateDir(const std::string& path);

// Deletes a file; true on success.
bool DeleteFileName(const std::string& name);

// Renames within one file system, replacing an existing file of the target name in one atomic
// step.
TSystemResult RenameReplacing(const std::string& from, const std::string& to);

// Renames without ever replacing: kNameTaken when anything of the target name exists.
TSystemResult RenameNoReplace(const std::string& from, const std::string& to);

// Creates a new, empty file with a unique name in directory `dir` ("" for the current
// directory, else ending in the path delimiter) and stores its name in `name`. The name ends in
// ".tmp", never in an extension the program converts, and the file has the permissions of a
// normally created file. With `file` the file stays open for writing and its handle is stored
// there.
TSystemResult CreateTempFile(const std::string& dir, std::string& name,
                             TFileHandle* file = nullptr);

// A name of that form in `dir`, not yet checked or created.
std::string RandomTempName(const std::string& dir);

// A file's access and modification times, to the nanosecond.
struct TFileTimes {
  int64_t accessSeconds = 0;
  long accessNanoseconds = 0;
  int64_t modifySeconds = 0;
  long modifyNanoseconds = 0;
};

// The times of an existing name, links followed.
TSystemResult ReadFileTimes(const std::string& name, TFileTimes& times);

// Gives the file `name` (not a link's target) those times.
TSystemResult WriteFileTimes(const std::string& name, const TFileTimes& times);

// The folder for temporary files that belong to no output, with a trailing delimiter: $TMPDIR,
// else /tmp, on POSIX systems; the user's temporary folder on Windows.
std::string TempFolder();

// The processor cores this process may run on (at least 1).
int AvailableCores();

// How many files this process may have open at once (its descriptor or handle limit).
size_t DescriptorLimit();

// Keeps what each further thread costs in address space small: threads share a few memory
// arenas instead of reserving one each, and their stacks are 1 MiB (their deepest frames take
// a few kilobytes). Many threads then fit an address-space limit that one thread fits. Where the
// C library offers no such settings (Windows, macOS) the system's defaults stand. Called once
// at start, before any thread.
void PrepareForManyThreads();

// True when an existing file may be written: the process may write it and it has a write
// permission bit set.
bool IsWritableFile(const std::string& name);

// Splits text into lines at CR, LF or CR LF; a NUL ends the text. A last line without a line
// end counts; a line end at the very end does not start another line. A UTF-8 byte-order mark
// at the very start is dropped.
std::vector<std::string> SplitTextLines(std::string_view text);

// Reads a whole text file and splits it as SplitTextLines does. Raises TFileError.
std::vector<std::string> ReadTextFileLines(const std::string& name);

}  // namespace tarvix
