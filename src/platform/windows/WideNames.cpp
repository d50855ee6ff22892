#include "WideNames.h"

#include <vector>

namespace tarvix {

std::wstring Utf8ToWide(std::string_view text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int length = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
  std::wstring wide(static_cast<size_t>(length), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, wide.data(), length);
  return wide;
}

std::string WideToUtf8(std::wstring_view text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int length =
      ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<size_t>(length), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, narrow.data(), length, nullptr, nullptr);
  return narrow;
}

std::wstring SystemName(const std::string& name) {
  if (name.empty()) return {};
  const std::wstring wide = Utf8ToWide(name);
  // Already in a form the system takes as it is: a "\\?\" name, or a device ("\\.\").
  if (wide.starts_with(L"\\\\?\\") || wide.starts_with(L"\\\\.\\")) return wide;
  std::vector<wchar_t> full(MAX_PATH);
  DWORD length =
      ::GetFullPathNameW(wide.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
  if (length >= full.size()) {
    full.resize(length + 1);
    length =
        ::GetFullPathNameW(wide.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
  }
  if (length == 0 || length >= full.size()) return wide;  // the system will say what is wrong
  std::wstring_view absolute(full.data(), length);
  if (absolute.starts_with(L"\\\\.\\")) return std::wstring(absolute);  // NUL, CON, COM1
  if (absolute.starts_with(L"\\\\")) {
    return L"\\\\?\\UNC\\" + std::wstring(absolute.substr(2));  // \\server\share
  }
  return L"\\\\?\\" + std::wstring(absolute);
}

HANDLE OpenForAttributes(const std::string& name, bool itself) {
  // No access asked: the attributes can be read even of a file another program holds shut.
  // Backup semantics let folders be opened as well.
  DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (itself ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
  return ::CreateFileW(SystemName(name).c_str(), 0,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, flags, nullptr);
}

}  // namespace tarvix
