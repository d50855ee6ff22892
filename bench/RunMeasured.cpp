// Runs a command and writes one line to a report file: wall seconds, peak resident memory in
// KiB, minor and major page faults, and CPU seconds (user and system). The exit status is the
// command's (127 if it cannot start). Used by run.sh so that timing and memory come from one
// process and need no extra package.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s REPORT COMMAND [ARGUMENT]...\n", argv[0]);
    return 2;
  }
  timespec start{};
  clock_gettime(CLOCK_MONOTONIC, &start);
  const pid_t child = fork();
  if (child < 0) {
    std::perror("fork");
    return 127;
  }
  if (child == 0) {
    execvp(argv[2], argv + 2);
    std::perror(argv[2]);
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (wait4(child, &status, 0, &usage) < 0) {
    std::perror("wait4");
    return 127;
  }
  timespec end{};
  clock_gettime(CLOCK_MONOTONIC, &end);
  const double seconds = static_cast<double>(end.tv_sec - start.tv_sec) +
                         static_cast<double>(end.tv_nsec - start.tv_nsec) * 1e-9;
  std::FILE* report = std::fopen(argv[1], "w");
  if (report == nullptr) {
    std::perror(argv[1]);
    return 127;
  }
  const auto secondsOf = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6;
  };
  std::fprintf(report, "%.6f %ld %ld %ld %.6f\n", seconds, usage.ru_maxrss, usage.ru_minflt,
               usage.ru_majflt, secondsOf(usage.ru_utime) + secondsOf(usage.ru_stime));
  std::fclose(report);
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}
