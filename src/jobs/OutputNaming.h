// Where an output lands: the temporary file in the output's directory, the directories made on
// the way, and the final name (numbered, or replacing under the rewrite flag).
#pragma once

#include <memory>
#include <string>

#include "platform/TempFileCleanup.h"

namespace tarvix {

// Creates a new, empty temporary file in the output's directory (the current directory when
// the name has none), making the directory and its missing parents first. Raises TError
// "Can't create temporary file" naming the directory and the system's reason.
std::unique_ptr<TTempFile> MakeTempFileName(const std::string& outputName);

// Makes the directory and every missing parent; true when it exists afterwards.
bool ForceDirectoryPath(const std::string& path);

// `name` when no file of that name exists, else the first of base_1.ext, base_2.ext, ... that
// does not exist. Directories do not count as existing.
std::string MakeNumberedName(const std::string& name);

struct TPlacement {
  bool placed = false;
  std::string finalName;  // the name the output got, or the one that could not be used
  std::string reason;     // why it could not be placed
};

// Moves the finished temporary file to its final name. Without `rewrite` an existing file is
// never replaced, also when it appears at the last moment: the next free numbered name is
// taken. With `rewrite` an existing file is replaced in one atomic step, unless it is
// read-only.
TPlacement PlaceOutput(TTempFile& temp, const std::string& outputName, bool rewrite);

}  // namespace tarvix
