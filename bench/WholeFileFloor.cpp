// The memory work of any converter that holds whole files, without the conversion: map the
// source and read every page of it, fill a fresh buffer the size of the output from it, write
// that to a new file. The end-to-end benchmark times it beside tarvix and cp, so that what the
// machine charges for whole-file buffers shows apart from what the codec costs.
//
// usage: tarvix-floor SOURCE OUTPUT OUTPUT/SOURCE-RATIO
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s SOURCE OUTPUT RATIO\n", argv[0]);
    return 2;
  }
  int fd = ::open(argv[1], O_RDONLY);
  struct stat info;
  if (fd < 0 || ::fstat(fd, &info) != 0 || info.st_size == 0) return 1;
  const auto sourceBytes = static_cast<size_t>(info.st_size);
  const auto outputBytes =
      static_cast<size_t>(std::atof(argv[3]) * static_cast<double>(sourceBytes));
  // The same kinds of memory tarvix uses: the mapped source and huge pages faulted in at once.
  void* mapped = ::mmap(nullptr, sourceBytes, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
  void* fresh =
      ::mmap(nullptr, outputBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED || fresh == MAP_FAILED) return 1;
  ::madvise(fresh, outputBytes, MADV_HUGEPAGE);
#ifdef MADV_POPULATE_WRITE
  ::madvise(fresh, outputBytes, MADV_POPULATE_WRITE);
#endif
  const auto* source = static_cast<const uint8_t*>(mapped);
  auto* output = static_cast<uint8_t*>(fresh);
  uint8_t sum = 0;
  for (size_t i = 0; i < sourceBytes; i += 4096) sum = static_cast<uint8_t>(sum + source[i]);
  for (size_t done = 0; done < outputBytes; done += sourceBytes) {
    std::memcpy(output + done, source, std::min(sourceBytes, outputBytes - done));
  }
  output[0] ^= sum;
  int out = ::open(argv[2], O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (out < 0) return 1;
  for (size_t done = 0; done < outputBytes;) {
    ssize_t n = ::write(out, output + done, std::min<size_t>(size_t{1} << 20, outputBytes - done));
    if (n <= 0) return 1;
    done += static_cast<size_t>(n);
  }
  return ::close(out) == 0 ? 0 : 1;
}
