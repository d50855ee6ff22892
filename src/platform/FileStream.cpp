#include "platform/FileStream.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/Errors.h"

namespace tarvix {

namespace {

constexpr size_t kReadBufferSize = 64 * 1024;
constexpr size_t kWriteBufferSize = 1024 * 1024;
// The kernel moves at most this much per read or write call anyway.
constexpr size_t kMaxIoChunk = 0x7ffff000;

}  // namespace

size_t TMemorySource::Read(void* dest, size_t count) {
  if (fPosition >= fBytes.size()) return 0;
  size_t available = static_cast<size_t>(fBytes.size() - fPosition);
  size_t n = std::min(count, available);
  if (n != 0) std::memcpy(dest, fBytes.data() + fPosition, n);
  fPosition += n;
  return n;
}

TFileMapping::TFileMapping(int fd, size_t size, const std::string& name) : fSize(size) {
  if (size == 0) return;
  // MAP_POPULATE maps every page the cache holds in one call, not one fault per page. Read
  // only: a writable private mapping would be populated by copying every page.
  void* data = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
  if (data == MAP_FAILED) throw TFileError("Error while reading the file", name, errno);
  fData = static_cast<const uint8_t*>(data);
}

TFileMapping::~TFileMapping() {
  if (fData != nullptr) ::munmap(const_cast<uint8_t*>(fData), fSize);
}

TFileMapping::TFileMapping(TFileMapping&& other) noexcept
    : fData(std::exchange(other.fData, nullptr)), fSize(std::exchange(other.fSize, 0)) {}

TFileMapping& TFileMapping::operator=(TFileMapping&& other) noexcept {
  if (this != &other) {
    if (fData != nullptr) ::munmap(const_cast<uint8_t*>(fData), fSize);
    fData = std::exchange(other.fData, nullptr);
    fSize = std::exchange(other.fSize, 0);
  }
  return *this;
}

TFileSource::TFileSource(const std::string& name) : fName(name) {
  // O_NONBLOCK keeps a FIFO from hanging the open; it changes nothing for regular files.
  fFd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fFd < 0) throw TFileError("Can't open file", name, errno, /*cannotOpen=*/true);
  struct stat info;
  if (::fstat(fFd, &info) != 0) {
    int error = errno;
    ::close(fFd);
    throw TFileError("Error while opening the file", name, error);
  }
  if (!S_ISREG(info.st_mode)) {
    ::close(fFd);
    throw TFileError("Error while opening the file", name, "not a regular file");
  }
  fSize = static_cast<uint64_t>(info.st_size);
}

TFileSource::~TFileSource() {
  if (fFd >= 0) ::close(fFd);
}

size_t TFileSource::ReadAt(uint64_t position, void* dest, size_t count) {
  auto* out = static_cast<uint8_t*>(dest);
  size_t done = 0;
  while (done < count) {
    size_t chunk = std::min(count - done, kMaxIoChunk);
    ssize_t n = ::pread(fFd, out + done, chunk, static_cast<off_t>(position + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      throw TFileError("Error while reading the file", fName, errno);
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return done;
}

bool TFileSource::FillBuffer() {
  if (!fBuffer) fBuffer = std::make_unique_for_overwrite<uint8_t[]>(kReadBufferSize);
  fBufferStart = fPosition;
  fBufferLength = ReadAt(fPosition, fBuffer.get(), kReadBufferSize);
  return fBufferLength != 0;
}

size_t TFileSource::Read(void* dest, size_t count) {
  auto* out = static_cast<uint8_t*>(dest);
  size_t done = 0;
  while (done < count) {
    bool inBuffer = fPosition >= fBufferStart && fPosition < fBufferStart + fBufferLength;
    if (inBuffer) {
      size_t offset = static_cast<size_t>(fPosition - fBufferStart);
      size_t n = std::min(count - done, fBufferLength - offset);
      std::memcpy(out + done, fBuffer.get() + offset, n);
      done += n;
      fPosition += n;
    } else if (count - done >= kReadBufferSize / 2) {
      // Large remainder: straight into the caller's memory, no copy through the buffer.
      size_t n = ReadAt(fPosition, out + done, count - done);
      done += n;
      fPosition += n;
      break;
    } else if (!FillBuffer()) {
      break;
    }
  }
  return done;
}

TFileSink::TFileSink(const std::string& name) : fName(name) {
  fFd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fFd < 0) throw TFileError("Can't create file", name, errno, /*cannotOpen=*/true);
}

TFileSink::~TFileSink() {
  if (fFd >= 0) ::close(fFd);
}

void TFileSink::WriteThrough(const uint8_t* data, size_t count) {
  while (count != 0) {
    ssize_t n = ::write(fFd, data, std::min(count, kMaxIoChunk));
    if (n < 0) {
      if (errno == EINTR) continue;
      throw TFileError("Error while writing the file", fName, errno);
    }
    if (n == 0) throw TFileError("Error while writing the file", fName, EIO);
    data += n;
    count -= static_cast<size_t>(n);
  }
}

void TFileSink::Write(const void* data, size_t count) {
  if (fFd < 0) throw TFileError("Error while writing the file", fName, EBADF);
  if (count == 0) return;
  const auto* in = static_cast<const uint8_t*>(data);
  if (fBuffered + count <= kWriteBufferSize) {
    if (!fBuffer) fBuffer = std::make_unique_for_overwrite<uint8_t[]>(kWriteBufferSize);
    std::memcpy(fBuffer.get() + fBuffered, in, count);
    fBuffered += count;
    return;
  }
  Flush();
  if (count >= kWriteBufferSize) {
    WriteThrough(in, count);
  } else {
    std::memcpy(fBuffer.get(), in, count);
    fBuffered = count;
  }
}

void TFileSink::Flush() {
  if (fBuffered == 0) return;
  size_t pending = fBuffered;
  fBuffered = 0;  // a failed flush is raised once, not again from Close
  WriteThrough(fBuffer.get(), pending);
}

void TFileSink::Close() {
  if (fFd < 0) return;
  try {
    Flush();
  } catch (...) {
    ::close(fFd);
    fFd = -1;
    throw;
  }
  int fd = fFd;
  fFd = -1;
  if (::close(fd) != 0) throw TFileError("Error while closing the file", fName, errno);
}

}  // namespace tarvix
