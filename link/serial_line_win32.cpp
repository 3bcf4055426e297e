// The serial line over the Win32 communications API. The port time-outs do
// the timing: COMMTIMEOUTS gives exactly the read behaviour the device link
// expects (500 ms between bytes, 1000 ms in all, writes 1000 ms).
#include "link/serial_line.h"

#include <windows.h>

#include "link/serial_line_win32.h"

#include <cstdio>
#include <cstring>

#include "link/com_names.h"
#include "link/run_state.h"

namespace {

HANDLE OpenDevice(const char* path) {
  return CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
}

bool IsNtFamily() {
  OSVERSIONINFOA version;
  std::memset(&version, 0, sizeof version);
  version.dwOSVersionInfoSize = sizeof version;
  return GetVersionExA(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

int ListFromDeviceNames(std::vector<std::string>* names) {
  // The list of all DOS device names: consecutive NUL-terminated strings.
  // A machine with many devices outgrows 64K characters; grow rather than
  // report no ports at all.
  std::vector<char> list(65535);
  for (;;) {
    DWORD length = QueryDosDeviceA(nullptr, list.data(), static_cast<DWORD>(list.size()));
    if (length != 0) return CountComNames(list.data(), length, portPresent, names);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || list.size() >= (16u << 20)) return 0;
    list.resize(list.size() * 4);
  }
}

// Older systems have no device-name list: try COM1 to COM255 one by one.
int ListByProbing(std::vector<std::string>* names) {
  int count = 0;
  for (int i = 1; i <= 255; ++i) {
    char path[16];
    std::snprintf(path, sizeof path, "\\\\.\\COM%d", i);
    HANDLE handle = OpenDevice(path);
    bool present = handle != INVALID_HANDLE_VALUE;
    if (present) {
      CloseHandle(handle);
    } else {
      // Held by another program: the port is there all the same.
      present = GetLastError() == ERROR_ACCESS_DENIED;
    }
    if (!present) continue;
    ++count;
    portPresent[i] = 1;
    if (names) names->push_back(path + 4);
  }
  return count;
}

class Win32SerialLine : public DeviceLine {
 public:
  explicit Win32SerialLine(HANDLE handle) : handle_(handle) {}
  ~Win32SerialLine() override { CloseHandle(handle_); }

  int32_t Read(void* buffer, int32_t count) override {
    if (count <= 0) return 0;
    DWORD got = 0;
    if (ReadFile(handle_, buffer, static_cast<DWORD>(count), &got, nullptr)) {
      return static_cast<int32_t>(got);
    }
    // A port set to abort on errors refuses every read until its error
    // state is cleared: take the error (it is a fault of the line, counted)
    // and read once more.
    if (GetLastError() != ERROR_OPERATION_ABORTED || !ClearErrors(nullptr)) return -1;
    got = 0;
    if (!ReadFile(handle_, buffer, static_cast<DWORD>(count), &got, nullptr)) return -1;
    return static_cast<int32_t>(got);
  }

  int32_t Write(const void* bytes, int32_t count) override {
    DWORD written = 0;
    if (!WriteFile(handle_, bytes, static_cast<DWORD>(count), &written, nullptr)) {
      return written ? static_cast<int32_t>(written) : -1;
    }
    return static_cast<int32_t>(written);
  }

  int32_t InputWaiting() override {
    COMSTAT status;
    if (!ClearErrors(&status)) return -1;
    return static_cast<int32_t>(status.cbInQue);
  }

  LineFaults TakeFaults() override {
    ClearErrors(nullptr);
    LineFaults taken = faults_;
    faults_ = LineFaults();
    return taken;
  }

 private:
  // ClearCommError, keeping the faults its flags tell of: every call that
  // clears the error state also counts what the state held.
  bool ClearErrors(COMSTAT* status) {
    DWORD errors = 0;
    COMSTAT ignored;
    COMSTAT* into = status ? status : &ignored;
    std::memset(into, 0, sizeof *into);
    if (!ClearCommError(handle_, &errors, into)) return false;
    if (errors & CE_OVERRUN) ++faults_.overruns;
    if (errors & CE_RXOVER) ++faults_.queueOverflows;
    if (errors & CE_FRAME) ++faults_.framing;
    if (errors & CE_RXPARITY) ++faults_.parity;
    return true;
  }

  HANDLE handle_;
  LineFaults faults_;
};

}  // namespace

void SetWholeLine(DCB* dcb, uint32_t baud) {
  dcb->BaudRate = baud;
  dcb->ByteSize = 8;
  dcb->Parity = NOPARITY;
  dcb->StopBits = ONESTOPBIT;
  dcb->fBinary = TRUE;
  dcb->fParity = TRUE;
  // A port left with fNull set drops the image's 0x00 bytes; with a flow
  // control or DSR sensitivity on, the device (which drives no handshake
  // line) is never heard or never written to.
  dcb->fOutxCtsFlow = FALSE;
  dcb->fOutxDsrFlow = FALSE;
  dcb->fDsrSensitivity = FALSE;
  dcb->fOutX = FALSE;
  dcb->fInX = FALSE;
  dcb->fNull = FALSE;
  dcb->fErrorChar = FALSE;
}

void SetPortLineAndTimeouts(HANDLE handle, uint32_t baud) {
  DCB dcb;
  std::memset(&dcb, 0, sizeof dcb);
  dcb.DCBlength = sizeof dcb;
  if (GetCommState(handle, &dcb)) {
    SetWholeLine(&dcb, baud);
    SetCommState(handle, &dcb);
  }

  COMMTIMEOUTS timeouts;
  std::memset(&timeouts, 0, sizeof timeouts);
  GetCommTimeouts(handle, &timeouts);
  timeouts.ReadIntervalTimeout = 500;
  timeouts.ReadTotalTimeoutMultiplier = 0;
  timeouts.ReadTotalTimeoutConstant = 1000;
  timeouts.WriteTotalTimeoutMultiplier = 0;
  timeouts.WriteTotalTimeoutConstant = 1000;
  SetCommTimeouts(handle, &timeouts);
}

std::unique_ptr<DeviceLine> OpenSerialLine(const char* path, uint32_t baud) {
  HANDLE handle = OpenDevice(path);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  // A name that is a file, a pipe or a folder opens too (\\.\C:\notes.txt is
  // a path); only a character device can be a port, and anything else must
  // not receive the identify frame.
  if (GetFileType(handle) != FILE_TYPE_CHAR) {
    CloseHandle(handle);
    return nullptr;
  }

  SetPortLineAndTimeouts(handle, baud);
  return std::make_unique<Win32SerialLine>(handle);
}

std::vector<std::string> SerialPortPaths(const std::string& portName) {
  return Win32PortPaths(portName);
}

int ListComPorts(std::vector<std::string>* names) {
  std::memset(portPresent, 0, sizeof portPresent);
  return IsNtFamily() ? ListFromDeviceNames(names) : ListByProbing(names);
}
