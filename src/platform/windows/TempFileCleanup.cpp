#include "platform/TempFileCleanup.h"

#include <windows.h>

#include <atomic>

#include "WideNames.h"
#include "platform/AlignedBuffer.h"
#include "platform/Errors.h"
#include "platform/FileSystem.h"

namespace tarvix {

namespace {

// What a pipe is read or written in at a time.
constexpr size_t kPipeChunkBytes = size_t{1} << 20;

// Placements in progress, and whether the console asked the process to end: the console's
// handler waits until no placement is half done (its file unmarked but not yet named), and none
// begins after it was called. Lock-free atomics only: the handler runs on a thread of its own
// while the workers go on.
std::atomic<int> gPlacing{0};
std::atomic<int> gDying{0};

static_assert(std::atomic<int>::is_always_lock_free);

BOOL WINAPI LetPlacementsFinish(DWORD) {
  gDying.store(1);
  while (gPlacing.load() != 0) ::Sleep(1);
  // Ends the process as the console's own handler would, with the status every console
  // program stopped so ends with. Every handle closes, and with them every temporary file still
  // marked for deletion goes.
  ::ExitProcess(static_cast<UINT>(STATUS_CONTROL_C_EXIT));
  return TRUE;
}

// One placement step that a dying process does not begin.
class TPlacementGuard {
 public:
  TPlacementGuard() {
    gPlacing.fetch_add(1);
    fAllowed = gDying.load() == 0;
  }
  ~TPlacementGuard() { gPlacing.fetch_sub(1); }
  TPlacementGuard(const TPlacementGuard&) = delete;
  TPlacementGuard& operator=(const TPlacementGuard&) = delete;

  bool Allowed() const { return fAllowed; }

 private:
  bool fAllowed;
};

// Marks the file to be removed when its last handle closes, or takes the mark back. Whatever
// ends the process closes its handles, so a marked file never outlives the run.
bool MarkForDeletion(HANDLE file, bool remove) {
  FILE_DISPOSITION_INFO disposition;
  disposition.DeleteFile = remove ? TRUE : FALSE;
  return ::SetFileInformationByHandle(file, FileDispositionInfo, &disposition,
                                      sizeof disposition) != 0;
}

bool WriteWhole(HANDLE to, const uint8_t* data, size_t size, DWORD& error) {
  while (size != 0) {
    DWORD written = 0;
    if (!::WriteFile(to, data, static_cast<DWORD>(size), &written, nullptr) || written == 0) {
      error = written == 0 && ::GetLastError() == 0 ? ERROR_WRITE_FAULT : ::GetLastError();
      return false;
    }
    data += written;
    size -= written;
  }
  return true;
}

}  // namespace

// What only this system's implementation does with a temporary file.
struct TTempFileSystem {
  // Renames the file, its deletion mark taken back for the moment of the rename.
  static TSystemResult Place(TTempFile& file, const std::string& target, DWORD flags) {
    TPlacementGuard guard;
    if (!guard.Allowed()) return TSystemResult::FromSystemCode(ERROR_OPERATION_ABORTED);
    HANDLE handle = AsHandle(file.fFd);
    MarkForDeletion(handle, false);
    if (!::MoveFileExW(SystemName(file.fName).c_str(), SystemName(target).c_str(), flags)) {
      const int error = LastErrorCode();
      MarkForDeletion(handle, true);
      return TSystemResult::FromSystemCode(error);
    }
    file.fName.clear();
    return {};
  }
};

void InstallTempFileCleanup() {
  ::SetConsoleCtrlHandler(LetPlacementsFinish, TRUE);
}

void UseNamedTempFiles() {
  // Every temporary file here has a name already.
}

void BlockCleanupSignalsInThisThread() {
  // The console's events reach a thread of their own.
}

TTempFile::TTempFile(const std::string& dir, const std::string& displayName)
    : fDir(dir), fDisplayName(displayName) {
  DWORD error = ERROR_FILE_EXISTS;
  for (int attempt = 0; attempt < 100 && error == ERROR_FILE_EXISTS; ++attempt) {
    const std::string name = RandomTempName(dir);
    // Others may read it, as they may read any file being written; DELETE lets it be renamed
    // and its mark be changed through this handle.
    HANDLE file = ::CreateFileW(SystemName(name).c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                                FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      error = ::GetLastError();
      continue;
    }
    error = 0;
    // A file system that cannot mark it still has it removed on every way out but a kill.
    MarkForDeletion(file, true);
    fName = name;
    fFd = reinterpret_cast<TFileHandle>(file);
    fSink = std::make_unique<TFileSink>(fFd, fDisplayName.empty() ? fName : fDisplayName);
  }
  fCreation = TSystemResult::FromSystemCode(static_cast<int>(error));
}

TTempFile::~TTempFile() {
  fSink.reset();  // closes the handle: a marked file is gone with it
  if (!fName.empty()) DeleteFileName(fName);
}

void TTempFile::Close() {
  // The handle stays open until the file is placed: its deletion mark lives with it.
}

std::unique_ptr<TFileSource> TTempFile::OpenForReading() const {
  return std::make_unique<TFileSource>(fFd, fDisplayName);
}

std::string TTempFile::ReadableName() {
  // A file marked for deletion cannot be opened again, so the mark gives way to a handle that
  // deletes the file when it and every other handle are closed, and lets others open it in the
  // meantime.
  TPlacementGuard guard;
  if (!guard.Allowed() || fName.empty()) return fName;
  HANDLE marked = AsHandle(fFd);
  MarkForDeletion(marked, false);
  HANDLE reopened = ::CreateFileW(SystemName(fName).c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (reopened == INVALID_HANDLE_VALUE) {
    MarkForDeletion(marked, true);
    return fName;  // opening it fails the same way for the reader, which reports it
  }
  fFd = reinterpret_cast<TFileHandle>(reopened);
  fSink = std::make_unique<TFileSink>(fFd, fDisplayName.empty() ? fName : fDisplayName);
  return fName;
}

uint64_t TTempFile::FillFrom(TFileHandle fd, const std::string& sourceName) {
  TAlignedBuffer buffer;
  buffer.Reserve(kPipeChunkBytes);
  uint64_t total = 0;
  while (true) {
    DWORD n = 0;
    if (!::ReadFile(AsHandle(fd), buffer.Data(), static_cast<DWORD>(buffer.Capacity()), &n,
                    nullptr)) {
      const DWORD error = ::GetLastError();
      // The writer closed its end: that is the end of the data.
      if (error == ERROR_BROKEN_PIPE || error == ERROR_HANDLE_EOF) return total;
      throw TFileError(TFileErrorKind::kRead, "Error while reading the file", sourceName,
                       static_cast<int>(error));
    }
    if (n == 0) return total;
    fSink->WriteAt(total, buffer.Data(), n);
    total += n;
  }
}

void TTempFile::CopyInto(TFileHandle fd, const std::string& targetName) {
  const std::unique_ptr<TFileSource> from = OpenForReading();
  TAlignedBuffer buffer;
  buffer.Reserve(kPipeChunkBytes);
  DWORD error = 0;
  for (uint64_t position = 0; position < from->Size();) {
    const size_t n = from->ReadAt(position, buffer.Data(), buffer.Capacity());
    if (n == 0) break;
    if (!WriteWhole(AsHandle(fd), buffer.Data(), n, error)) {
      throw TFileError(TFileErrorKind::kWrite, "Error while writing the file", targetName,
                       static_cast<int>(error));
    }
    position += n;
  }
}

TSystemResult TTempFile::PlaceWithoutReplacing(const std::string& target) {
  return TTempFileSystem::Place(*this, target, 0);
}

TSystemResult TTempFile::PlaceReplacing(const std::string& target) {
  return TTempFileSystem::Place(*this, target, MOVEFILE_REPLACE_EXISTING);
}

}  // namespace tarvix
