// The user-space floor of a conversion: copies a file with read() and write() through one
// reused, page-aligned 1 MiB buffer, as tarvix moves its data, but codes nothing. The gap
// between this and cp (which copies inside the kernel) is what any program that touches the
// bytes pays; the gap between tarvix and this is the coding.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s SOURCE DESTINATION\n", argv[0]);
    return 2;
  }
  constexpr size_t kBufferBytes = size_t{1} << 20;
  void* buffer = std::aligned_alloc(4096, kBufferBytes);
  const int in = ::open(argv[1], O_RDONLY | O_CLOEXEC);
  const int out = ::open(argv[2], O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (buffer == nullptr || in < 0 || out < 0) {
    std::perror("aligned-copy");
    return 1;
  }
  for (;;) {
    const ssize_t n = ::read(in, buffer, kBufferBytes);
    if (n < 0) {
      std::perror("read");
      return 1;
    }
    if (n == 0) break;
    if (::write(out, buffer, static_cast<size_t>(n)) != n) {
      std::perror("write");
      return 1;
    }
  }
  if (::close(out) != 0) {
    std::perror("close");
    return 1;
  }
  ::close(in);
  std::free(buffer);
  return 0;
}
