#include "support/TempDir.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

namespace tarvix::test {

namespace fs = std::filesystem;

namespace {

// Names are UTF-8 in the tests as in the program; a path made of a plain string would take
// them in the ANSI code page on Windows.
fs::path Utf8Path(std::string_view name) {
  return fs::path(std::u8string(name.begin(), name.end()));
}

std::string Utf8Name(const fs::path& path) {
  const std::u8string name = path.u8string();
  return std::string(name.begin(), name.end());
}

}  // namespace

TTempDir::TTempDir() {
  std::random_device random;
  for (int attempt = 0; attempt < 100 && fPath.empty(); ++attempt) {
    const fs::path candidate =
        fs::temp_directory_path() / ("tarvix-test-" + std::to_string(random() % 100000000));
    if (fs::create_directory(candidate)) fPath = Utf8Name(candidate);
  }
  if (fPath.empty()) throw std::runtime_error("no fresh test directory");
}

TTempDir::~TTempDir() {
  std::error_code ignored;
  // Tests may leave read-only folders behind; make them writable so they can be removed.
  for (auto it = fs::recursive_directory_iterator(Utf8Path(fPath), ignored);
       it != fs::recursive_directory_iterator(); it.increment(ignored)) {
    if (it->is_directory(ignored) && !it->is_symlink(ignored)) {
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
  }
  fs::permissions(Utf8Path(fPath), fs::perms::owner_all, fs::perm_options::add, ignored);
  fs::remove_all(Utf8Path(fPath), ignored);
}

std::string TTempDir::operator/(std::string_view relative) const {
  return fPath + "/" + std::string(relative);
}

std::string TTempDir::WriteFile(std::string_view relative, std::string_view content) const {
  std::string path = *this / relative;
  fs::create_directories(Utf8Path(path).parent_path());
  std::ofstream out(Utf8Path(path), std::ios::binary | std::ios::trunc);
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
  fs::create_directories(Utf8Path(path));
  return path;
}

std::vector<std::string> TTempDir::List() const {
  std::vector<std::string> names;
  for (const auto& entry : fs::recursive_directory_iterator(Utf8Path(fPath))) {
    names.push_back(Utf8Name(fs::relative(entry.path(), Utf8Path(fPath)).generic_u8string()));
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string ReadFileText(const std::string& path) {
  std::ifstream in(Utf8Path(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::string text = ReadFileText(path);
  return std::vector<uint8_t>(text.begin(), text.end());
}

TWorkingDirectory::TWorkingDirectory(const std::string& dir)
    : fPrevious(Utf8Name(fs::current_path())) {
  fs::current_path(Utf8Path(dir));
}

TWorkingDirectory::~TWorkingDirectory() {
  std::error_code ignored;
  fs::current_path(Utf8Path(fPrevious), ignored);
}

}  // namespace tarvix::test
