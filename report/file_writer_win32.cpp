// Whole-file writes on Windows: a temporary file beside the target, moved
// over it (MoveFileExA, replacing) only when every byte is written.
#include <windows.h>

#include <string>

#include "report/report_run.h"

namespace {

void ShowSystemError(DWORD error) {
  char text[1024] = "";
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                 MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text, sizeof text, nullptr);
  Ui().ShowMessage(nullptr, text, "Error", MessageIconError);
}

}  // namespace

bool WriteBufferToFile(const char* fileName, const char* bytes, int64_t length) {
  static unsigned counter = 0;
  std::string temporary = std::string(fileName) + ".tmp" + std::to_string(GetCurrentProcessId()) +
                          "-" + std::to_string(counter++);
  HANDLE file = CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    ShowSystemError(GetLastError());
    return false;
  }
  DWORD written = 0;
  BOOL ok = WriteFile(file, bytes, static_cast<DWORD>(length), &written, nullptr);
  DWORD error = ok ? ERROR_HANDLE_DISK_FULL : GetLastError();  // a short write without an error: disk full
  bool complete = ok && written == static_cast<DWORD>(length);
  if (!CloseHandle(file) && complete) {
    complete = false;
    error = GetLastError();
  }
  if (complete && !MoveFileExA(temporary.c_str(), fileName, MOVEFILE_REPLACE_EXISTING)) {
    complete = false;
    error = GetLastError();
  }
  if (!complete) {
    DeleteFileA(temporary.c_str());
    ShowSystemError(error);
  }
  return complete;
}
