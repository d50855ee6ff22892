#include "jobs/OutputNaming.h"

#include <sys/stat.h>

#include <cerrno>

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
  struct stat info;
  if (::lstat(name.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
  return !IsWritableFile(name);
}

}  // namespace

std::string OutputFolder(const std::string& outputName) {
  return ExtractFilePath(outputName);
}

std::unique_ptr<TTempFile> MakeTempFileName(const std::string& outputName) {
  const std::string dir = OutputFolder(outputName);
  auto temp = std::make_unique<TTempFile>(dir, outputName);
  if (!temp->Created() && errno == ENOENT && !dir.empty()) {
    // The folder is missing: made only now, so that a folder that exists costs nothing.
    ForceDirectoryPath(dir);
    temp = std::make_unique<TTempFile>(dir, outputName);
  }
  if (!temp->Created()) {
    int error = errno;
    throw TError("Can't create temporary file", dir.empty() ? "./" : dir, SystemReason(error));
  }
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
  if (!NameTaken(name)) return name;
  std::string extension = ExtractFileExt(name);
  std::string base = name.substr(0, name.size() - extension.size());
  for (uint64_t number = 1;; ++number) {
    std::string candidate = base + "_" + std::to_string(number) + extension;
    if (!NameTaken(candidate)) return candidate;
  }
}

TPlacement PlaceOutput(TTempFile& temp, const std::string& outputName, bool rewrite) {
  TPlacement placement;
  placement.finalName = outputName;
  if (rewrite) {
    int error = IsProtectedFile(outputName) ? EACCES : temp.PlaceReplacing(outputName);
    placement.placed = error == 0;
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
      if (error == EEXIST && DirectoryExists(placement.finalName)) error = EISDIR;
      placement.reason = SystemReason(error);
      return placement;
    }
    placement.finalName = MakeNumberedName(outputName);
  }
  placement.reason = SystemReason(EEXIST);
  return placement;
}

}  // namespace tarvix
