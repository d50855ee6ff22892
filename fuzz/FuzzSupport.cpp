#include "FuzzSupport.h"

#include <dirent.h>
#include <fcntl.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "ncw/NcwFormat.h"
#include "platform/Errors.h"
#include "platform/FileStream.h"
#include "wav/WavReader.h"

// The library is built with recoverable UBSan checks; a fuzz target must stop at the first one
// so that the input is saved as a finding. Run-time UBSAN_OPTIONS still override this.
extern "C" const char* __ubsan_default_options() {
  return "halt_on_error=1:print_stacktrace=1";
}

namespace tarvix::fuzz {

uint64_t ClaimedWavBytes(std::span<const uint8_t> bytes) {
  TWavReader wav;
  try {
    wav.OpenSource(std::make_unique<TMemorySource>(bytes), "claimed.wav");
  } catch (const TError&) {
    return 0;
  }
  const TWavHeader& header = wav.Header();
  return uint64_t{header.nChannels} * wav.FrameCount() * (header.wBitsPerSample / 8u);
}

uint64_t ClaimedNcwBytes(std::span<const uint8_t> bytes) {
  std::array<uint8_t, kNcwHeaderBytes> image{};
  if (!bytes.empty()) {
    std::memcpy(image.data(), bytes.data(), std::min(bytes.size(), image.size()));
  }
  const TNcwHeader header = TNcwHeader::FromImage(image.data());
  if (!header.HasValidSignature()) return 0;  // refused before anything is allocated
  return uint64_t{header.NumSamples} * header.Channels * header.BitsPerSample / 8;
}

bool WithinHarnessLimits(std::span<const uint8_t> bytes) {
  return ClaimedWavBytes(bytes) <= kMaxClaimedBytes && ClaimedNcwBytes(bytes) <= kMaxClaimedBytes;
}

int DevNullFd() {
  static const int fd = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (fd < 0) std::abort();
  return fd;
}

int CountOpenFds() {
  DIR* dir = ::opendir("/proc/self/fd");
  if (dir == nullptr) std::abort();
  int count = 0;
  while (const dirent* entry = ::readdir(dir)) {
    if (entry->d_name[0] != '.') ++count;
  }
  ::closedir(dir);
  return count - 1;  // the listing's own descriptor
}

}  // namespace tarvix::fuzz
