// The file-system services the program relies on, with the results its callers expect.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>
#include <vector>

namespace tarvix {

constexpr char kPathDelimiter = '/';

// True only for an existing name that is not a directory; links are followed, so a dangling
// link does not exist.
bool FileExists(const std::string& name);

// True only for an existing directory (or a link to one).
bool DirectoryExists(const std::string& name);

// Creates one directory level; true on success.
bool CreateDir(const std::string& path);

// Deletes a file; true on success.
bool DeleteFileName(const std::string& name);

// Renames within one file system, replacing an existing file of the target name in one atomic
// step. Returns 0, or the errno of the failure.
int RenameReplacing(const std::string& from, const std::string& to);

// Renames without ever replacing: returns EEXIST when anything of the target name exists, 0 on
// success, or the errno of another failure.
int RenameNoReplace(const std::string& from, const std::string& to);

// Creates a new, empty file with a unique name in directory `dir` (which ends in the path
// delimiter) and returns its full name, or an empty string with errno set. The name ends in
// ".tmp", never in an extension the program converts, and the file has the permissions of a
// normally created file.
std::string CreateTempFile(const std::string& dir);

// The working directory's full path, without a trailing delimiter ("/" for the root).
std::string GetCurrentDir();

// True when an existing file may be written: the process may write it and it has a write
// permission bit set.
bool IsWritableFile(const std::string& name);

// 0666 less the process's umask: the mode of a file created the usual way.
mode_t NewFileMode();

// Splits text into lines at CR, LF or CR LF; a NUL ends the text. A last line without a line
// end counts; a line end at the very end does not start another line. A UTF-8 byte-order mark
// at the very start is dropped.
std::vector<std::string> SplitTextLines(std::string_view text);

// Reads a whole text file and splits it as SplitTextLines does. Raises TFileError.
std::vector<std::string> ReadTextFileLines(const std::string& name);

}  // namespace tarvix
