// File streams and the narrow byte-source interface the parsers read through, so that they run
// on files and on memory alike.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace tarvix {

// What a parser needs of its input: positioned reads that may come back short at the end.
class TByteSource {
 public:
  virtual ~TByteSource() = default;

  // Reads up to `count` bytes at the current position and advances it; returns fewer only at
  // the end of the data. Raises TFileError on an I/O error.
  virtual size_t Read(void* dest, size_t count) = 0;
  // Moves the position; a position past the end makes the next read return 0 bytes.
  virtual void Seek(uint64_t position) = 0;
  virtual uint64_t Position() const = 0;
  virtual uint64_t Size() const = 0;
};

// A byte source over memory the caller keeps alive.
class TMemorySource final : public TByteSource {
 public:
  explicit TMemorySource(std::span<const uint8_t> bytes) : fBytes(bytes) {}

  size_t Read(void* dest, size_t count) override;
  void Seek(uint64_t position) override { fPosition = position; }
  uint64_t Position() const override { return fPosition; }
  uint64_t Size() const override { return fBytes.size(); }

 private:
  std::span<const uint8_t> fBytes;
  uint64_t fPosition = 0;
};

// A whole file mapped into memory read-only: its bytes without a copy and without fresh
// memory. The pages cannot be written.
class TFileMapping {
 public:
  TFileMapping() = default;
  TFileMapping(int fd, size_t size, const std::string& name);  // raises TFileError
  ~TFileMapping();
  TFileMapping(TFileMapping&& other) noexcept;
  TFileMapping& operator=(TFileMapping&& other) noexcept;

  const uint8_t* Data() const { return fData; }
  size_t Size() const { return fSize; }
  explicit operator bool() const { return fData != nullptr; }

 private:
  const uint8_t* fData = nullptr;
  size_t fSize = 0;
};

// A regular file opened for reading. Small reads are served from a buffer so that header
// parsing costs few system calls; large reads go straight into the caller's memory.
class TFileSource final : public TByteSource {
 public:
  // Raises TFileError: CannotOpen() when the name cannot be opened at all, otherwise (for
  // instance a directory or a FIFO, which are not regular files) a plain failure.
  explicit TFileSource(const std::string& name);
  ~TFileSource() override;
  TFileSource(const TFileSource&) = delete;
  TFileSource& operator=(const TFileSource&) = delete;

  size_t Read(void* dest, size_t count) override;
  void Seek(uint64_t position) override { fPosition = position; }
  uint64_t Position() const override { return fPosition; }
  uint64_t Size() const override { return fSize; }

  const std::string& Name() const { return fName; }

  // The whole file (as long as it was when opened) in memory. A file cut shorter by another
  // program while it is mapped raises SIGBUS when its lost part is read; the program treats
  // that as an interruption (TempFileCleanup).
  TFileMapping Map() const { return TFileMapping(fFd, static_cast<size_t>(fSize), fName); }

 private:
  size_t ReadAt(uint64_t position, void* dest, size_t count);  // loops over short reads
  bool FillBuffer();

  std::string fName;
  int fFd = -1;
  uint64_t fSize = 0;      // length when opened
  uint64_t fPosition = 0;  // next byte a Read returns
  std::unique_ptr<uint8_t[]> fBuffer;
  uint64_t fBufferStart = 0;  // file position of fBuffer[0]
  size_t fBufferLength = 0;   // valid bytes in fBuffer
};

// A file created (or emptied) for writing, with a large buffer so that many small writes reach
// the system as few large ones. Every failure is raised as a TFileError naming the file and the
// system's reason; Close must be called for the data to count as written.
class TFileSink {
 public:
  // Creates the file, replacing the content of an existing one. Raises TFileError.
  explicit TFileSink(const std::string& name);
  ~TFileSink();  // closes without reporting; callers that care call Close first
  TFileSink(const TFileSink&) = delete;
  TFileSink& operator=(const TFileSink&) = delete;

  void Write(const void* data, size_t count);
  void Flush();
  void Close();

  const std::string& Name() const { return fName; }

 private:
  void WriteThrough(const uint8_t* data, size_t count);

  std::string fName;
  int fFd = -1;
  std::unique_ptr<uint8_t[]> fBuffer;
  size_t fBuffered = 0;
};

}  // namespace tarvix
