#include "jobs/OutputNaming.h"

#include "jobs/RunContext.h"
#include "platform/Errors.h"
#include "platform/FileNames.h"
#include "platform/FileSystem.h"

namespace tarvix {

namespace {

// A name that keeps being taken between the check and the rename would otherwise loop forever.
constexpr int kMaxPlacementAttempts = 100;

// A folder made for an output that keeps vanishing is given up on after so many tries.
constexpr int kFolderAttempts = 3;

// As the system words them: a read-only target -rw keeps, and a name taken again and again.
const std::string kReadOnlyReason = "Permission denied";
const std::string kNameTakenReason = "File exists";

// A read-only regular file (through links) that -rw must not replace. The link itself, or a
// FIFO, is not protected: replacing the name leaves what it leads to untouched.
bool IsProtectedFile(const std::string& name) {
  return IsRegularFileItself(name) && !IsWritableFile(name);
}

}  // namespace

std::string OutputFolder(const std::string& outputName) {
  return ExtractFilePath(outputName);
}

std::unique_ptr<TTempFile> MakeTempFileName(const std::string& outputName) {
  // Standard output gets the file once it is complete (an NCW file's table comes first): till
  // then it waits in the temporary folder.
  const std::string dir = outputName == kPipeName ? TempFolder() : OutputFolder(outputName);
  auto temp = std::make_unique<TTempFile>(dir, outputName);
  TSystemResult made = temp->Creation();
  // The folder is missing: made only now, so that a folder that exists costs nothing. Made
  // again should another process move it away right after it was made.
  for (int attempt = 0;
       attempt < kFolderAttempts && !dir.empty() && made.Why() == TSystemResult::TWhy::kNotFound;
       ++attempt) {
    made = ForceDirectoryPath(dir);
    if (made.Ok()) {
      temp = std::make_unique<TTempFile>(dir, outputName);
      made = temp->Creation();
    }
  }
  if (!made.Ok()) {
    throw TError("Can't create temporary file", dir.empty() ? "./" : dir, made.Reason(),
                 made.Fault(TFault::kOutput));
  }
  return temp;
}

TSystemResult ForceDirectoryPath(const std::string& path) {
  std::string dir = path;
  if (dir.size() > 1 && IsPathDelimiter(dir.back())) dir.pop_back();
  if (DirectoryExists(dir)) return {};
  const TSystemResult made = CreateDir(dir);  // parents are made only when this fails
  if (made.Why() != TSystemResult::TWhy::kNotFound) return made;
  std::string parent = ExtractFilePath(dir);
  if (parent.empty() || parent == dir) return made;
  const TSystemResult parentMade = ForceDirectoryPath(parent);
  return parentMade.Ok() ? CreateDir(dir) : parentMade;
}

std::string MakeNumberedName(const std::string& name) {
  if (!NameTaken(name)) return name;
  std::string extension = ExtractFileExt(name);
  std::string base = name.substr(0, name.size() - extension.size());
  for (uint64_t number = 1;; ++number) {
    std::string candidate = base + "_" + std::to_string(number) + extension;
    if (!NameTaken(candidate)) return candidate;
  }
}

TPlacement PlaceOutput(TTempFile& temp, const std::string& outputName, TNameRule rule) {
  TPlacement placement;
  placement.finalName = outputName;
  using TWhy = TSystemResult::TWhy;
  if (outputName == kPipeName) {
    temp.CopyInto(StandardOutput(), outputName);
    placement.placed = true;
    return placement;
  }
  if (rule == TNameRule::kReplace) {
    if (IsProtectedFile(outputName)) {
      placement.reason = kReadOnlyReason;
      return placement;
    }
    const TSystemResult placed = temp.PlaceReplacing(outputName);
    placement.placed = placed.Ok();
    placement.folderGone = placed.Why() == TWhy::kNotFound;
    placement.reason = placed.Reason();
    return placement;
  }
  for (int attempt = 0; attempt < kMaxPlacementAttempts; ++attempt) {
    // Placing itself tells whether the name is free; only then are numbers tried.
    const TSystemResult placed = temp.PlaceWithoutReplacing(placement.finalName);
    if (placed.Ok()) {
      placement.placed = true;
      return placement;
    }
    // Anything but a name that is taken (a missing permission, a folder gone) will not go away
    // by trying again.
    if (placed.Why() != TWhy::kNameTaken || !NameTaken(placement.finalName)) {
      placement.folderGone = placed.Why() == TWhy::kNotFound;
      placement.reason = placed.Reason();
      return placement;
    }
    if (rule == TNameRule::kKeep) {
      // Taken while the item converted, by another run resuming into the same folder.
      placement.nameTaken = true;
      return placement;
    }
    placement.finalName = MakeNumberedName(outputName);
  }
  placement.reason = kNameTakenReason;
  return placement;
}

}  // namespace tarvix
