// A shim loaded into the program under test (LD_PRELOAD) that damages what it writes: in every
// write of a whole run or more one bit comes out flipped, as a failing disk, controller or
// cable would hand it on without an error. The program must not notice without -verify and
// must notice with it.
#include <dlfcn.h>
#include <sys/types.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

using TPwrite = ssize_t (*)(int, const void*, size_t, off_t);

// Writes of this size or more are damaged: sample data, never a lone header or table entry.
constexpr size_t kDamagedFrom = 4096;

ssize_t Damaged(TPwrite real, int fd, const void* data, size_t count, off_t position) {
  if (count < kDamagedFrom) return real(fd, data, count, position);
  std::vector<uint8_t> copy(static_cast<const uint8_t*>(data),
                            static_cast<const uint8_t*>(data) + count);
  copy[count / 2] ^= 0x10;
  return real(fd, copy.data(), count, position);
}

}  // namespace

extern "C" ssize_t pwrite(int fd, const void* data, size_t count, off_t position) {
  static const auto real = reinterpret_cast<TPwrite>(::dlsym(RTLD_NEXT, "pwrite"));
  return Damaged(real, fd, data, count, position);
}

extern "C" ssize_t pwrite64(int fd, const void* data, size_t count, off_t position) {
  static const auto real = reinterpret_cast<TPwrite>(::dlsym(RTLD_NEXT, "pwrite64"));
  return Damaged(real, fd, data, count, position);
}
