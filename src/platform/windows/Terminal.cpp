#include "platform/Terminal.h"

#include <windows.h>

#include <shellapi.h>

#include <algorithm>

#include "WideNames.h"

namespace tarvix {

namespace {

// The most a console write takes at once; more is written in pieces.
constexpr size_t kConsoleChunk = 16 << 10;

bool IsConsole(HANDLE stream) {
  DWORD mode = 0;
  return ::GetConsoleMode(stream, &mode) != 0;
}

bool WriteBytes(HANDLE stream, const char* data, size_t size) {
  while (size != 0) {
    DWORD written = 0;
    const auto chunk = static_cast<DWORD>(std::min<size_t>(size, 1 << 30));
    if (!::WriteFile(stream, data, chunk, &written, nullptr) || written == 0) return false;
    data += written;
    size -= written;
  }
  return true;
}

// The text as Unicode, so that the console shows every script whatever its code page.
bool WriteToConsole(HANDLE stream, const char* data, size_t size) {
  const std::wstring wide = Utf8ToWide({data, size});
  for (size_t done = 0; done < wide.size();) {
    size_t chunk = std::min(wide.size() - done, kConsoleChunk);
    // A surrogate pair is never split across two writes.
    if (done + chunk < wide.size() && IS_HIGH_SURROGATE(wide[done + chunk - 1])) --chunk;
    DWORD written = 0;
    if (!::WriteConsoleW(stream, wide.data() + done, static_cast<DWORD>(chunk), &written,
                         nullptr) ||
        written == 0) {
      return false;
    }
    done += written;
  }
  return true;
}

}  // namespace

TFileHandle StandardInput() {
  return reinterpret_cast<TFileHandle>(::GetStdHandle(STD_INPUT_HANDLE));
}

TFileHandle StandardOutput() {
  return reinterpret_cast<TFileHandle>(::GetStdHandle(STD_OUTPUT_HANDLE));
}

TFileHandle StandardError() {
  return reinterpret_cast<TFileHandle>(::GetStdHandle(STD_ERROR_HANDLE));
}

std::vector<std::string> ProgramArguments(int, char**) {
  // argv is in the ANSI code page, which cannot hold every name: the wide command line can.
  int count = 0;
  wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  std::vector<std::string> args;
  if (wide == nullptr) return args;
  for (int i = 1; i < count; ++i) args.push_back(WideToUtf8(wide[i]));
  ::LocalFree(wide);
  return args;
}

bool IsTerminal(TFileHandle stream) {
  return IsConsole(AsHandle(stream));
}

int TerminalColumns(TFileHandle stream) {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!::GetConsoleScreenBufferInfo(AsHandle(stream), &info)) return 0;
  return info.srWindow.Right - info.srWindow.Left + 1;
}

bool WriteAll(TFileHandle stream, const char* data, size_t size) {
  if (size == 0) return true;
  HANDLE handle = AsHandle(stream);
  return IsConsole(handle) ? WriteToConsole(handle, data, size) : WriteBytes(handle, data, size);
}

void MoveTerminalCursor(TFileHandle stream, int64_t rowsUp, int column) {
  HANDLE handle = AsHandle(stream);
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (::GetConsoleScreenBufferInfo(handle, &info)) {
    // The console's own calls: read where the cursor is, and set it where it goes.
    const int64_t row = std::clamp<int64_t>(info.dwCursorPosition.Y - rowsUp, 0, info.dwSize.Y - 1);
    COORD target;
    target.X = static_cast<SHORT>(std::clamp(column, 0, info.dwSize.X - 1));
    target.Y = static_cast<SHORT>(row);
    ::SetConsoleCursorPosition(handle, target);
    return;
  }
  // No console: a terminal that reads control sequences from a pipe (mintty, a terminal
  // emulator over ssh) moves its cursor as a POSIX terminal does.
  std::string move = "\r";
  if (rowsUp > 0) move += "\x1b[" + std::to_string(rowsUp) + "A";
  if (rowsUp < 0) move += "\x1b[" + std::to_string(-rowsUp) + "B";
  if (column > 0) move += "\x1b[" + std::to_string(column) + "C";
  WriteBytes(handle, move.data(), move.size());
}

}  // namespace tarvix
