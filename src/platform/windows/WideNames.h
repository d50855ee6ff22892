// The Windows side's edge: the program holds names and texts as UTF-8, the system takes UTF-16.
// For the files under src/platform/windows/ alone.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace tarvix {

std::wstring Utf8ToWide(std::string_view text);
std::string WideToUtf8(std::wstring_view text);

// A name as the system's file calls take it: the full name in the "\\?\" form, so that names
// longer than MAX_PATH work and every name means the same whatever its length. "" stays "".
std::wstring SystemName(const std::string& name);

// The code of the last failed call, as TSystemResult and TFileError carry it.
inline int LastErrorCode() {
  return static_cast<int>(::GetLastError());
}

// An owned HANDLE, closed when it goes.
class TOwnedHandle {
 public:
  explicit TOwnedHandle(HANDLE handle = INVALID_HANDLE_VALUE) : fHandle(handle) {}
  ~TOwnedHandle() {
    if (Valid()) ::CloseHandle(fHandle);
  }
  TOwnedHandle(const TOwnedHandle&) = delete;
  TOwnedHandle& operator=(const TOwnedHandle&) = delete;

  bool Valid() const { return fHandle != INVALID_HANDLE_VALUE && fHandle != nullptr; }
  HANDLE Get() const { return fHandle; }

 private:
  HANDLE fHandle;
};

// Opens an existing name only to ask about it, links followed unless `itself`; folders too.
HANDLE OpenForAttributes(const std::string& name, bool itself = false);

// The handle as the system knows it.
inline HANDLE AsHandle(std::intptr_t file) {
  return reinterpret_cast<HANDLE>(file);
}

}  // namespace tarvix
