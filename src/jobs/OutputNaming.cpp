#include "jobs/OutputNaming.h"

#include <cerrno>

#include "frontend/CommandLine.h"
#include "platform/Errors.h"
#include "platform/FileNames.h"
#include "platform/FileSystem.h"

namespace tarvix {

namespace {

// A name that keeps being taken between the check and the rename would otherwise loop forever.
constexpr int kMaxPlacementAttempts = 100;

}  // namespace

std::unique_ptr<TTempFile> MakeTempFileName(const std::string& outputName) {
  std::string dir = ExtractFilePath(outputName);
  if (dir.empty()) dir = AddTrailingDelimiter(GetCurrentDir());
  // A directory that cannot be made shows up as a failure to create the file in it.
  if (!DirectoryExists(dir)) ForceDirectoryPath(dir);
  auto temp = std::make_unique<TTempFile>(dir);
  if (temp->Name().empty()) throw TError("Can't create temporary file", dir, SystemReason(errno));
  return temp;
}

bool ForceDirectoryPath(const std::string& path) {
  std::string dir = path;
  if (dir.size() > 1 && dir.back() == kPathDelimiter) dir.pop_back();
  if (DirectoryExists(dir)) return true;
  if (CreateDir(dir)) return true;  // parents are made only when this fails
  std::string parent = ExtractFilePath(dir);
  if (parent.empty() || parent == dir) return false;
  return ForceDirectoryPath(parent) && CreateDir(dir);
}

std::string MakeNumberedName(const std::string& name) {
  if (!FileExists(name)) return name;
  std::string extension = ExtractFileExt(name);
  std::string base = name.substr(0, name.size() - extension.size());
  for (uint64_t number = 1;; ++number) {
    std::string candidate = base + "_" + std::to_string(number) + extension;
    if (!FileExists(candidate)) return candidate;
  }
}

TPlacement PlaceOutput(TTempFile& temp, const std::string& outputName, bool rewrite) {
  TPlacement placement;
  placement.finalName = outputName;
  if (rewrite) {
    // Replacing is the user's wish for writable files only: a read-only one stays.
    int error = FileExists(outputName) && !IsWritableFile(outputName)
                    ? EACCES
                    : temp.PlaceAs(outputName, RenameReplacing);
    placement.placed = error == 0;
    if (error != 0) placement.reason = SystemReason(error);
    return placement;
  }
  for (int attempt = 0; attempt < kMaxPlacementAttempts; ++attempt) {
    if (FileExists(placement.finalName)) placement.finalName = MakeNumberedName(outputName);
    int error = temp.PlaceAs(placement.finalName, RenameNoReplace);
    if (error == 0) {
      placement.placed = true;
      return placement;
    }
    // Anything but a file that appeared meanwhile (a directory of that name, a missing
    // permission) will not go away by trying again.
    if (error != EEXIST || !FileExists(placement.finalName)) {
      if (error == EEXIST && DirectoryExists(placement.finalName)) error = EISDIR;
      placement.reason = SystemReason(error);
      return placement;
    }
  }
  placement.reason = SystemReason(EEXIST);
  return placement;
}

}  // namespace tarvix
