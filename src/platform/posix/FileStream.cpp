#include "platform/FileStream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/Errors.h"

namespace tarvix {

namespace {

// The kernel moves at most this much per read or write call anyway.
constexpr size_t kMaxIoChunk = 0x7ffff000;

// Reads until `count` bytes or the end of the file; retries interrupted and partial reads.
size_t PreadFully(TFileHandle fd, uint64_t position, void* dest, size_t count,
                  const std::string& name) {
  auto* out = static_cast<uint8_t*>(dest);
  size_t done = 0;
  while (done < count) {
    size_t chunk = std::min(count - done, kMaxIoChunk);
    ssize_t n = ::pread(fd, out + done, chunk, static_cast<off_t>(position + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      throw TFileError(TFileErrorKind::kRead, "Error while reading the file", name, errno);
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return done;
}

}  // namespace

TFileSource::TFileSource(const std::string& name, std::span<uint8_t> head)
    : fName(name), fHead(head) {
  // O_NONBLOCK keeps a FIFO from hanging the open; it changes nothing for regular files.
  fFd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fFd < 0) throw TFileError(TFileErrorKind::kCannotOpen, "Can't open file", name, errno);
  struct stat info;
  if (::fstat(fFd, &info) != 0) {
    int error = errno;
    ::close(fFd);
    throw TFileError(TFileErrorKind::kCannotOpen, "Can't open file", name, error);
  }
  if (!S_ISREG(info.st_mode)) {
    ::close(fFd);
    throw TFileError(TFileErrorKind::kNotRegular, "Error while opening the file", name,
                     "not a regular file");
  }
  fSize = static_cast<uint64_t>(info.st_size);
  if (!fHead.empty()) {
    try {
      fHeadLength =
          PreadFully(fFd, 0, fHead.data(), std::min<uint64_t>(fHead.size(), fSize), fName);
    } catch (...) {
      ::close(fFd);
      throw;
    }
  }
}

TFileSource::TFileSource(TFileHandle borrowedFd, const std::string& name)
    : fName(name), fFd(borrowedFd), fOwnsFd(false) {
  struct stat info;
  if (::fstat(fFd, &info) != 0) {
    throw TFileError(TFileErrorKind::kCannotOpen, "Can't open file", name, errno);
  }
  fSize = static_cast<uint64_t>(info.st_size);
}

TFileSource::~TFileSource() {
  if (fFd >= 0 && fOwnsFd) ::close(fFd);
}

size_t TFileSource::ReadAt(uint64_t position, void* dest, size_t count) const {
  if (position >= fSize) return 0;
  count = std::min<uint64_t>(count, fSize - position);  // what the file held when opened
  if (position + count <= fHeadLength) {
    std::memcpy(dest, fHead.data() + position, count);
    return count;
  }
  return PreadFully(fFd, position, dest, count, fName);
}

TFileSink::TFileSink(const std::string& name) : fName(name) {
  fFd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fFd < 0) throw TFileError(TFileErrorKind::kCannotOpen, "Can't create file", name, errno);
}

TFileSink::~TFileSink() {
  if (fFd >= 0) ::close(fFd);
}

void TFileSink::WriteAt(uint64_t position, const void* data, size_t count) {
  if (fFd < 0)
    throw TFileError(TFileErrorKind::kWrite, "Error while writing the file", fName, EBADF);
  const auto* in = static_cast<const uint8_t*>(data);
  while (count != 0) {
    ssize_t n = ::pwrite(fFd, in, std::min(count, kMaxIoChunk), static_cast<off_t>(position));
    if (n < 0) {
      if (errno == EINTR) continue;
      throw TFileError(TFileErrorKind::kWrite, "Error while writing the file", fName, errno);
    }
    if (n == 0)
      throw TFileError(TFileErrorKind::kWrite, "Error while writing the file", fName, EIO);
    in += n;
    position += static_cast<uint64_t>(n);
    count -= static_cast<size_t>(n);
  }
}

void TFileSink::Resize(uint64_t size) {
  if (::ftruncate(fFd, static_cast<off_t>(size)) != 0) {
    throw TFileError(TFileErrorKind::kWrite, "Error while writing the file", fName, errno);
  }
}

void TFileSink::Close() {
  if (fFd < 0) return;
  int fd = fFd;
  fFd = -1;
  if (::close(fd) != 0) {
    throw TFileError(TFileErrorKind::kClose, "Error while closing the file", fName, errno);
  }
}

}  // namespace tarvix
