// Positioned byte sources and sinks: the narrow interfaces the parsers and coders read and write
// through, so that they run on files and on memory alike. Reads and writes at a position touch
// no shared cursor, so several threads may use one source or sink at once on distinct ranges.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "platform/FileHandle.h"

namespace tarvix {

class TByteSource {
 public:
  virtual ~TByteSource() = default;

  // Reads up to `count` bytes at `position`; fewer only where the data ends (none past it).
  // Raises TFileError on an I/O error.
  virtual size_t ReadAt(uint64_t position, void* dest, size_t count) const = 0;
  virtual uint64_t Size() const = 0;

  // A cursor for parsers that read one field after another; one thread at a time.
  size_t Read(void* dest, size_t count) {
    size_t n = ReadAt(fPosition, dest, count);
    fPosition += n;
    return n;
  }
  // A position past the end makes the next Read return 0 bytes.
  void Seek(uint64_t position) { fPosition = position; }
  uint64_t Position() const { return fPosition; }

 private:
  uint64_t fPosition = 0;
};

// A byte source over memory the caller keeps alive.
class TMemorySource final : public TByteSource {
 public:
  explicit TMemorySource(std::span<const uint8_t> bytes) : fBytes(bytes) {}

  size_t ReadAt(uint64_t position, void* dest, size_t count) const override;
  uint64_t Size() const override { return fBytes.size(); }

 private:
  std::span<const uint8_t> fBytes;
};

// A regular file opened for reading. Its first bytes may be read at once into memory the
// caller lends (the head): a header is then parsed without a system call per field, and a
// small file is read whole by one call.
class TFileSource final : public TByteSource {
 public:
  // Raises TFileError: kCannotOpen when the name cannot be opened, kNotRegular for a
  // directory, FIFO or device (a FIFO is opened without waiting for a writer).
  explicit TFileSource(const std::string& name, std::span<uint8_t> head = {});
  // Reads through a file the caller keeps open (and closes): no descriptor or handle more is
  // taken. Raises TFileError when it cannot be examined.
  TFileSource(TFileHandle borrowed, const std::string& name);
  ~TFileSource() override;
  TFileSource(const TFileSource&) = delete;
  TFileSource& operator=(const TFileSource&) = delete;

  size_t ReadAt(uint64_t position, void* dest, size_t count) const override;
  uint64_t Size() const override { return fSize; }

  // The file's first bytes as read into the head when it was opened.
  std::span<const uint8_t> Head() const { return {fHead.data(), fHeadLength}; }
  // Stops serving reads from the head, whose memory the caller is about to use otherwise (or
  // lend to another thread's work): from now on every read goes to the file.
  void ForgetHead() { fHeadLength = 0; }
  const std::string& Name() const { return fName; }

 private:
  std::string fName;
  TFileHandle fFd = kNoFileHandle;
  bool fOwnsFd = true;
  uint64_t fSize = 0;        // length when opened
  std::span<uint8_t> fHead;  // lent by the caller
  size_t fHeadLength = 0;    // bytes of the file in fHead
};

class TByteSink {
 public:
  virtual ~TByteSink() = default;

  // Writes `count` bytes at `position`. Raises TFileError when they did not all arrive.
  virtual void WriteAt(uint64_t position, const void* data, size_t count) = 0;
  // Makes the data `size` bytes long: cut, or extended with zero bytes.
  virtual void Resize(uint64_t size) = 0;
};

// A sink into a growing byte vector. Writes from several threads take turns, since one may
// grow the vector under another; Bytes is read once they are over.
class TMemorySink final : public TByteSink {
 public:
  void WriteAt(uint64_t position, const void* data, size_t count) override;
  void Resize(uint64_t size) override;
  const std::vector<uint8_t>& Bytes() const { return fBytes; }

 private:
  std::mutex fMutex;  // guards fBytes while writers run; taken by every writing thread
  std::vector<uint8_t> fBytes;
};

// A file written at positions, unbuffered: callers hand it large pieces. Every failure is
// raised as a TFileError naming the file and the system's reason; Close must be called for the
// data to count as written.
class TFileSink final : public TByteSink {
 public:
  // Creates the file, replacing the content of an existing one. Raises TFileError.
  explicit TFileSink(const std::string& name);
  // Takes over an open file; `name` is what errors call the file.
  TFileSink(TFileHandle file, const std::string& name) : fName(name), fFd(file) {}
  ~TFileSink() override;  // closes without reporting; callers that care call Close first
  TFileSink(const TFileSink&) = delete;
  TFileSink& operator=(const TFileSink&) = delete;

  void WriteAt(uint64_t position, const void* data, size_t count) override;
  void Resize(uint64_t size) override;
  void Close();

  const std::string& Name() const { return fName; }

 private:
  std::string fName;
  TFileHandle fFd = kNoFileHandle;
};

}  // namespace tarvix
