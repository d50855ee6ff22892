// A growing in-memory byte stream that writers append to and that is copied whole into a file.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/FileMemory.h"

namespace tarvix {

class TMemoryStream {
 public:
  TMemoryStream() = default;
  TMemoryStream(const TMemoryStream&) = delete;
  TMemoryStream& operator=(const TMemoryStream&) = delete;

  // Makes room for `capacity` bytes in one piece if the system grants it; a refusal is not an
  // error (the stream then grows as it goes).
  void TryReserve(size_t capacity);
  // Appends `count` bytes whose content the caller writes through the returned pointer, which
  // stays valid until the next call that appends. Raises std::bad_alloc.
  uint8_t* Extend(size_t count);
  void Append(const void* data, size_t count);

  const uint8_t* Data() const { return fMemory.Data(); }
  size_t Size() const { return fSize; }

 private:
  TFileMemory fMemory;   // its size is the capacity
  size_t fSize = 0;      // bytes appended
  size_t fPrepared = 0;  // bytes from the start whose pages were faulted in ahead
};

}  // namespace tarvix
