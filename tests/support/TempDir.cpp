#include "support/TempDir.h"

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace tarvix::test {

namespace fs = std::filesystem;

TTempDir::TTempDir() {
  std::string pattern = (fs::temp_directory_path() / "tarvix-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  fPath = pattern;
}

TTempDir::~TTempDir() {
  std::error_code ignored;
  // Tests may leave read-only folders behind; make them writable so they can be removed.
  for (auto it = fs::recursive_directory_iterator(fPath, ignored);
       it != fs::recursive_directory_iterator(); it.increment(ignored)) {
    if (it->is_directory(ignored) && !it->is_symlink(ignored)) {
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
  }
  fs::permissions(fPath, fs::perms::owner_all, fs::perm_options::add, ignored);
  fs::remove_all(fPath, ignored);
}

std::string TTempDir::operator/(std::string_view relative) const {
  return fPath + "/" + std::string(relative);
}

std::string TTempDir::WriteFile(std::string_view relative, std::string_view content) const {
  std::string path = *this / relative;
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
  return path;
}

std::string TTempDir::WriteFile(std::string_view relative,
                                const std::vector<uint8_t>& content) const {
  return WriteFile(relative,
                   std::string_view(reinterpret_cast<const char*>(content.data()), content.size()));
}

std::string TTempDir::MakeDir(std::string_view relative) const {
  std::string path = *this / relative;
  fs::create_directories(path);
  return path;
}

std::vector<std::string> TTempDir::List() const {
  std::vector<std::string> names;
  for (const auto& entry : fs::recursive_directory_iterator(fPath)) {
    names.push_back(fs::relative(entry.path(), fPath).string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string ReadFileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::string text = ReadFileText(path);
  return std::vector<uint8_t>(text.begin(), text.end());
}

TWorkingDirectory::TWorkingDirectory(const std::string& dir) : fPrevious(fs::current_path()) {
  fs::current_path(dir);
}

TWorkingDirectory::~TWorkingDirectory() {
  std::error_code ignored;
  fs::current_path(fPrevious, ignored);
}

}  // namespace tarvix::test
