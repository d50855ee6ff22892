#include "platform/FileStream.h"

#include <windows.h>

#include <algorithm>
#include <cstring>

#include "WideNames.h"
#include "platform/Errors.h"
#include "platform/FileSystem.h"

namespace tarvix {

namespace {

// One ReadFile or WriteFile moves at most a DWORD's worth; pieces stay well below it.
constexpr size_t kMaxIoChunk = size_t{1} << 30;

// Reads and writes name their position: threads that share a handle never move a cursor that
// another relies on.
OVERLAPPED At(uint64_t position) {
  OVERLAPPED at = {};
  at.Offset = static_cast<DWORD>(position);
  at.OffsetHigh = static_cast<DWORD>(position >> 32);
  return at;
}

size_t ReadFully(HANDLE file, uint64_t position, void* dest, size_t count,
                 const std::string& name) {
  auto* out = static_cast<uint8_t*>(dest);
  size_t done = 0;
  while (done < count) {
    OVERLAPPED at = At(position + done);
    DWORD n = 0;
    const auto chunk = static_cast<DWORD>(std::min(count - done, kMaxIoChunk));
    if (!::ReadFile(file, out + done, chunk, &n, &at)) {
      const DWORD error = ::GetLastError();
      if (error == ERROR_HANDLE_EOF) break;
      throw TFileError(TFileErrorKind::kRead, "Error while reading the file", name,
                       static_cast<int>(error));
    }
    if (n == 0) break;
    done += n;
  }
  return done;
}

uint64_t SizeOf(HANDLE file, const std::string& name) {
  LARGE_INTEGER size;
  if (!::GetFileSizeEx(file, &size)) {
    throw TFileError(TFileErrorKind::kCannotOpen, "Can't open file", name, LastErrorCode());
  }
  return static_cast<uint64_t>(size.QuadPart);
}

}  // namespace

TFileSource::TFileSource(const std::string& name, std::span<uint8_t> head)
    : fName(name), fHead(head) {
  // Others may read, write, rename or delete the file meanwhile, as they may on POSIX systems:
  // a sample library being converted stays usable.
  HANDLE file = ::CreateFileW(SystemName(name).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const int error = LastErrorCode();
    // A folder cannot be opened as a file here; elsewhere it opens and is then refused.
    if (DirectoryExists(name)) {
      throw TFileError(TFileErrorKind::kNotRegular, "Error while opening the file", name,
                       "not a regular file");
    }
    throw TFileError(TFileErrorKind::kCannotOpen, "Can't open file", name, error);
  }
  fFd = reinterpret_cast<TFileHandle>(file);
  try {
    if (::GetFileType(file) != FILE_TYPE_DISK) {
      throw TFileError(TFileErrorKind::kNotRegular, "Error while opening the file", name,
                       "not a regular file");
    }
    fSize = SizeOf(file, name);
    if (!fHead.empty()) {
      fHeadLength =
          ReadFully(file, 0, fHead.data(), std::min<uint64_t>(fHead.size(), fSize), fName);
    }
  } catch (...) {
    ::CloseHandle(file);
    fFd = kNoFileHandle;
    throw;
  }
}

TFileSource::TFileSource(TFileHandle borrowed, const std::string& name)
    : fName(name), fFd(borrowed), fOwnsFd(false) {
  fSize = SizeOf(AsHandle(fFd), name);
}

TFileSource::~TFileSource() {
  if (fFd != kNoFileHandle && fOwnsFd) ::CloseHandle(AsHandle(fFd));
}

size_t TFileSource::ReadAt(uint64_t position, void* dest, size_t count) const {
  if (position >= fSize) return 0;
  count = std::min<uint64_t>(count, fSize - position);  // what the file held when opened
  if (position + count <= fHeadLength) {
    std::memcpy(dest, fHead.data() + position, count);
    return count;
  }
  return ReadFully(AsHandle(fFd), position, dest, count, fName);
}

TFileSink::TFileSink(const std::string& name) : fName(name) {
  HANDLE file = ::CreateFileW(SystemName(name).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    throw TFileError(TFileErrorKind::kCannotOpen, "Can't create file", name, LastErrorCode());
  }
  fFd = reinterpret_cast<TFileHandle>(file);
}

TFileSink::~TFileSink() {
  if (fFd != kNoFileHandle) ::CloseHandle(AsHandle(fFd));
}

void TFileSink::WriteAt(uint64_t position, const void* data, size_t count) {
  if (fFd == kNoFileHandle) {
    throw TFileError(TFileErrorKind::kWrite, "Error while writing the file", fName,
                     ERROR_INVALID_HANDLE);
  }
  const auto* in = static_cast<const uint8_t*>(data);
  while (count != 0) {
    OVERLAPPED at = At(position);
    DWORD n = 0;
    if (!::WriteFile(AsHandle(fFd), in, static_cast<DWORD>(std::min(count, kMaxIoChunk)), &n,
                     &at)) {
      throw TFileError(TFileErrorKind::kWrite, "Error while writing the file", fName,
                       LastErrorCode());
    }
    if (n == 0) {
      throw TFileError(TFileErrorKind::kWrite, "Error while writing the file", fName,
                       ERROR_WRITE_FAULT);
    }
    in += n;
    position += n;
    count -= n;
  }
}

void TFileSink::Resize(uint64_t size) {
  FILE_END_OF_FILE_INFO end;
  end.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
  if (!::SetFileInformationByHandle(AsHandle(fFd), FileEndOfFileInfo, &end, sizeof end)) {
    throw TFileError(TFileErrorKind::kWrite, "Error while writing the file", fName,
                     LastErrorCode());
  }
}

void TFileSink::Close() {
  if (fFd == kNoFileHandle) return;
  HANDLE file = AsHandle(fFd);
  fFd = kNoFileHandle;
  if (!::CloseHandle(file)) {
    throw TFileError(TFileErrorKind::kClose, "Error while closing the file", fName,
                     LastErrorCode());
  }
}

}  // namespace tarvix
