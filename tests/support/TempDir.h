// A fresh directory per test, removed with everything in it afterwards.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarvix::test {

class TTempDir {
 public:
  TTempDir();
  ~TTempDir();
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;

  // The directory's path, without a trailing delimiter.
  const std::string& Path() const { return fPath; }
  // Path() + "/" + relative.
  std::string operator/(std::string_view relative) const;

  // Writes a file (creating missing parent directories) and returns its full path.
  std::string WriteFile(std::string_view relative, std::string_view content) const;
  std::string WriteFile(std::string_view relative, const std::vector<uint8_t>& content) const;
  std::string MakeDir(std::string_view relative) const;

  // Names below the directory (relative, "/"-separated, sorted), files and directories alike.
  std::vector<std::string> List() const;

 private:
  std::string fPath;
};

std::string ReadFileText(const std::string& path);
std::vector<uint8_t> ReadFileBytes(const std::string& path);

// Runs the test's body in `dir` and returns to the previous working directory afterwards.
class TWorkingDirectory {
 public:
  explicit TWorkingDirectory(const std::string& dir);
  ~TWorkingDirectory();

 private:
  std::string fPrevious;
};

}  // namespace tarvix::test
