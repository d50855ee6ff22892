#include "jobs/OutputNaming.h"

#include <cerrno>

#include "jobs/RunContext.h"
#include "platform/Errors.h"
#include "platform/FileNames.h"
#include "platform/FileSystem.h"

namespace tarvix {

namespace {

// A name that keeps being taken between the check and the rename would otherwise loop forever.
constexpr int kMaxPlacementAttempts = 100;

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
  int error = temp->Created() ? 0 : errno;
  if (error == ENOENT && !dir.empty()) {
    // The folder is missing: made only now, so that a folder that exists costs nothing.
    error = ForceDirectoryPath(dir);
    if (error == 0) {
      temp = std::make_unique<TTempFile>(dir, outputName);
      error = temp->Created() ? 0 : errno;
    }
  }
  if (error != 0) {
    throw TError("Can't create temporary file", dir.empty() ? "./" : dir, SystemReason(error),
                 FaultOfErrorNumber(error, TFault::kOutput));
  }
  return temp;
}

int ForceDirectoryPath(const std::string& path) {
  std::string dir = path;
  if (dir.size() > 1 && dir.back() == kPathDelimiter) dir.pop_back();
  if (DirectoryExists(dir)) return 0;
  const int error = CreateDir(dir);  // parents are made only when this fails
  if (error != ENOENT) return error;
  std::string parent = ExtractFilePath(dir);
  if (parent.empty() || parent == dir) return error;
  const int parentError = ForceDirectoryPath(parent);
  return parentError != 0 ? parentError : CreateDir(dir);
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
  if (outputName == kPipeName) {
    temp.CopyInto(kStandardOutputFd, outputName);
    placement.placed = true;
    return placement;
  }
  if (rule == TNameRule::kReplace) {
    int error = IsProtectedFile(outputName) ? EACCES : temp.PlaceReplacing(outputName);
    placement.placed = error == 0;
    placement.folderGone = error == ENOENT;
    if (error != 0) placement.reason = SystemReason(error);
    return placement;
  }
  for (int attempt = 0; attempt < kMaxPlacementAttempts; ++attempt) {
    // Placing itself tells whether the name is free; only then are numbers tried.
    int error = temp.PlaceWithoutReplacing(placement.finalName);
    if (error == 0) {
      placement.placed = true;
      return placement;
    }
    // Anything but a name that is taken (a directory of that name, a missing permission) will
    // not go away by trying again.
    if (error != EEXIST || !NameTaken(placement.finalName)) {
      placement.folderGone = error == ENOENT;
      placement.reason = SystemReason(error);
      return placement;
    }
    if (rule == TNameRule::kKeep) {
      // Taken while the item converted, by another run resuming into the same folder.
      placement.nameTaken = true;
      return placement;
    }
    placement.finalName = MakeNumberedName(outputName);
  }
  placement.reason = SystemReason(EEXIST);
  return placement;
}

}  // namespace tarvix
