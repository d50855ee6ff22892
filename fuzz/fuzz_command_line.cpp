// The whole program in-process: the input chooses flags, a run mode and up to three source
// files (and a list file naming them), which are written into a fresh directory; the program
// then runs there as from a command line. No descriptor may stay open after a run.
//
// Input layout (bytes past the end read as zero):
//   byte 0  bits 0-2: number of flags; bits 3-4: mode (0 file, 1 directory, 2 and 3 list);
//           bit 5: the console is a terminal;
//           bit 6: file mode: an output name follows each source; directory mode: a
//                  destination directory is given; list mode: the "@tarvixlist2" form;
//           bit 7: directory mode: the destination lies inside the source; list mode: CR LF.
//   one byte per flag, modulo 14 an index into kFlags.
//   one byte: 1 + value % 3 files, each given by
//     a name byte: bits 0-2 base name; bits 3-4 extension (0 the content's: ".wav" for
//     "RIFF", else ".ncw"; 1 the same in capitals; 2 the other format's; 3 ".txt"); bits 5-6
//     folder; bit 7 not written (a missing source); then a 2-byte little-endian length and
//     that many content bytes.
//   list mode: the rest of the input is appended to the list file, every "/" made "_" so that
//   no name leaves the run's directory.
#include <fcntl.h>
#include <ftw.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzSupport.h"
#include "frontend/Console.h"
#include "frontend/Program.h"

namespace {

constexpr std::array<const char*, 14> kFlags = {"-r",    "-rec", "-rw",  "-rewrite", "-w2n",
                                                "-n2w",  "-whs", "-whe", "-wha",     "-l",
                                                "-skip", "-j1",  "-j3",  "-j0"};
// Short names that collide on purpose (case, numbered outputs), a blank, a leading "-" and
// dot, and a two-byte UTF-8 letter.
constexpr std::array<const char*, 8> kBaseNames = {"a",   "b",  "a_1", "A",
                                                   "s p", "-r", ".h",  "n\xC3\xA9"};
constexpr std::array<const char*, 4> kFolders = {"", "sub/", "sub/deep/", "x y/"};
constexpr int kTerminalWidth = 24;  // narrow, so that progress lines wrap

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

class TReader {
 public:
  TReader(const uint8_t* data, size_t size) : fData(data), fLeft(size) {}

  uint8_t Byte() {
    if (fLeft == 0) return 0;
    --fLeft;
    return *fData++;
  }
  std::span<const uint8_t> Bytes(size_t count) {
    count = std::min(count, fLeft);
    std::span<const uint8_t> bytes(fData, count);
    fData += count;
    fLeft -= count;
    return bytes;
  }
  std::span<const uint8_t> Rest() { return Bytes(fLeft); }

 private:
  const uint8_t* fData;
  size_t fLeft;
};

struct TSourceFile {
  std::string path;  // relative to the run's directory
  std::string extension;
  std::span<const uint8_t> content;
  bool written = true;
};

bool LooksLikeWav(std::span<const uint8_t> content) {
  return content.size() >= 4 &&
         std::string_view(reinterpret_cast<const char*>(content.data()), 4) == "RIFF";
}

std::string ExtensionFor(int kind, std::span<const uint8_t> content) {
  const bool wav = LooksLikeWav(content);
  switch (kind) {
    case 0:
      return wav ? ".wav" : ".ncw";
    case 1:
      return wav ? ".WAV" : ".NCW";
    case 2:
      return wav ? ".ncw" : ".wav";  // the content of the other format
    default:
      return ".txt";
  }
}

std::string OutputExtensionFor(const std::string& extension) {
  return extension == ".wav" || extension == ".WAV" ? ".ncw" : ".wav";
}

void MakeParents(const std::string& path) {
  for (size_t slash = path.find('/'); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    ::mkdir(path.substr(0, slash).c_str(), 0777);
  }
}

void WriteFile(const std::string& path, std::span<const uint8_t> content) {
  MakeParents(path);
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  Check(fd >= 0);
  size_t done = 0;
  while (done < content.size()) {
    ssize_t n = ::write(fd, content.data() + done, content.size() - done);
    Check(n > 0);
    done += static_cast<size_t>(n);
  }
  ::close(fd);
}

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) {
  ::remove(path);
  return 0;
}

// Where the run's directories are made, and the directory to come back to.
const std::string& TempBase() {
  static const std::string base = [] {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp");
  }();
  return base;
}

// TARVIX_FUZZ_VERBOSE=1 shows a run: its command line, its list file, the program's output and
// the files it leaves, for looking into a finding.
bool Verbose() {
  static const bool verbose = std::getenv("TARVIX_FUZZ_VERBOSE") != nullptr;
  return verbose;
}

int ShowEntry(const char* path, const struct stat* info, int, struct FTW*) {
  std::printf("  %s (%lld bytes)\n", path, static_cast<long long>(info->st_size));
  return 0;
}

int HomeDirectoryFd() {
  static const int fd = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  Check(fd >= 0);
  return fd;
}

}  // namespace

// Descriptors the harness keeps for good are opened here, before the first run counts them.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  HomeDirectoryFd();
  tarvix::fuzz::DevNullFd();
  TempBase();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TReader in(data, size);
  const uint8_t options = in.Byte();
  const int flagCount = options & 7;
  const int mode = std::min((options >> 3) & 3, 2);  // 0 file, 1 directory, 2 list
  const bool terminal = (options & 0x20) != 0;
  const bool modeOption1 = (options & 0x40) != 0;
  const bool modeOption2 = (options & 0x80) != 0;

  std::vector<std::string> args;
  for (int i = 0; i < flagCount; ++i) args.emplace_back(kFlags[in.Byte() % kFlags.size()]);

  const int fileCount = 1 + in.Byte() % 3;
  std::vector<TSourceFile> files;
  for (int i = 0; i < fileCount; ++i) {
    const uint8_t name = in.Byte();
    const size_t length = in.Byte() | size_t{in.Byte()} << 8;
    TSourceFile file;
    file.content = in.Bytes(length);
    if (!tarvix::fuzz::WithinHarnessLimits(file.content)) return 0;
    file.extension = ExtensionFor((name >> 3) & 3, file.content);
    file.path = (mode == 1 ? "in/" : "") + std::string(kFolders[(name >> 5) & 3]) +
                kBaseNames[name & 7] + file.extension;
    file.written = (name & 0x80) == 0;
    files.push_back(file);
  }

  std::string listText;
  if (mode == 0) {
    for (size_t i = 0; i < files.size(); ++i) {
      args.push_back(files[i].path);
      if (modeOption1) {
        args.push_back("out/o" + std::to_string(i) + OutputExtensionFor(files[i].extension));
      }
    }
  } else if (mode == 1) {
    args.emplace_back("in");
    if (modeOption1) args.emplace_back(modeOption2 ? "in/out" : "out");
  } else {
    if (std::find(args.begin(), args.end(), "-l") == args.end()) args.emplace_back("-l");
    args.emplace_back("list.txt");
    const std::string lineEnd = modeOption2 ? "\r\n" : "\n";
    listText = (modeOption1 ? "@tarvixlist2" : "@tarvixlist1") + lineEnd;
    for (size_t i = 0; i < files.size(); ++i) {
      listText += files[i].path + lineEnd;
      if (modeOption1) {
        listText += "out/o" + std::to_string(i) + OutputExtensionFor(files[i].extension) + lineEnd;
      }
    }
    std::span<const uint8_t> rest = in.Rest();
    std::string extra(rest.begin(), rest.end());
    std::replace(extra.begin(), extra.end(), '/', '_');
    listText += extra;
  }

  const int fdsBefore = tarvix::fuzz::CountOpenFds();
  std::string dir = TempBase() + "/tarvix-fuzz-XXXXXX";
  Check(::mkdtemp(dir.data()) != nullptr);
  Check(::chdir(dir.c_str()) == 0);
  for (const TSourceFile& file : files) {
    if (file.written) WriteFile(file.path, file.content);
  }
  if (mode == 2) {
    WriteFile("list.txt", {reinterpret_cast<const uint8_t*>(listText.data()), listText.size()});
  }

  if (Verbose()) {
    std::printf("tarvix");
    for (const std::string& arg : args) std::printf(" '%s'", arg.c_str());
    std::printf("\nin %s, list file:\n%s\n----\n", dir.c_str(), listText.c_str());
    std::fflush(stdout);
  }
  int status;
  {
    const int out = Verbose() ? STDOUT_FILENO : tarvix::fuzz::DevNullFd();
    tarvix::TConsole console(out, terminal, kTerminalWidth);
    status = tarvix::RunTarvix(args, console, Verbose() ? STDERR_FILENO : out);
  }
  if (Verbose()) {
    std::printf("----\nexit status %d; files:\n", status);
    ::nftw(".", ShowEntry, 16, FTW_PHYS);
    std::fflush(stdout);
  }
  Check(status >= 0 && status <= 2);

  Check(::fchdir(HomeDirectoryFd()) == 0);
  ::nftw(dir.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
  Check(tarvix::fuzz::CountOpenFds() <= fdsBefore);
  return 0;
}
