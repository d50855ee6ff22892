#include "platform/FileStream.h"

#include <algorithm>
#include <cstring>

namespace tarvix {

size_t TMemorySource::ReadAt(uint64_t position, void* dest, size_t count) const {
  if (position >= fBytes.size()) return 0;
  size_t n = std::min<uint64_t>(count, fBytes.size() - position);
  if (n != 0) std::memcpy(dest, fBytes.data() + position, n);
  return n;
}

void TMemorySink::WriteAt(uint64_t position, const void* data, size_t count) {
  if (count == 0) return;
  std::lock_guard lock(fMutex);
  if (fBytes.size() < position + count) fBytes.resize(position + count);
  std::memcpy(fBytes.data() + position, data, count);
}

void TMemorySink::Resize(uint64_t size) {
  std::lock_guard lock(fMutex);
  fBytes.resize(size);
}

}  // namespace tarvix
