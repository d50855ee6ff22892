// Where an output lands: the temporary file in the output's directory, the directories made on
// the way, and the final name (numbered, or replacing under the rewrite flag).
#pragma once

#include <memory>
#include <string>

#include "platform/TempFileCleanup.h"

namespace tarvix {

// The folder a temporary file for `outputName` is made in: the name's directory part, or ""
// (the current directory, named relatively, so that a deep working directory does not make the
// temporary name longer than the output's own).
std::string OutputFolder(const std::string& outputName);

// Creates a new, empty temporary file in the output's folder, making the folder and its
// missing parents first. Raises TError "Can't create temporary file" naming the folder and the
// system's reason (for a folder that could not be made, the reason it could not). Errors
// writing the file name `outputName`.
std::unique_ptr<TTempFile> MakeTempFileName(const std::string& outputName);

// Makes the directory and every missing parent: done when it exists afterwards (also when
// another process made some of it meanwhile), else why the level that failed could not be made.
TSystemResult ForceDirectoryPath(const std::string& path);

// `name` when it is not taken (see NameTaken), else the first of base_1.ext, base_2.ext, ...
// that is not. A folder takes a name as a file does.
std::string MakeNumberedName(const std::string& name);

// What placing does about a final name that is taken.
enum class TNameRule {
  kNumber,   // the next free numbered name
  kReplace,  // replaced in one atomic step (-rw)
  kKeep,     // left as it is, nothing placed (-skip)
};

struct TPlacement {
  bool placed = false;
  bool nameTaken = false;   // under kKeep: the name was taken, the output discarded
  bool folderGone = false;  // the output's folder was moved or removed since the file was made
  std::string finalName;    // the name the output got, or the one that could not be used
  std::string reason;       // why it could not be placed
};

// Moves the finished temporary file to its final name. Except under kReplace nothing of an
// existing name is ever replaced, also when it appears at the last moment: the next free
// numbered name is taken, or under kKeep nothing is placed. Under kReplace an existing name is
// replaced in one atomic step, unless it is a read-only file; a link is replaced itself, never
// the file it leads to.
TPlacement PlaceOutput(TTempFile& temp, const std::string& outputName, TNameRule rule);

}  // namespace tarvix
