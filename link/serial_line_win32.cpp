// The serial line over the Win32 communications API. The port time-outs do
// the timing: COMMTIMEOUTS gives exactly the read behaviour the device link
// expects (500 ms between bytes, 1000 ms in all, writes 1000 ms).
#include "link/serial_line.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

#include "link/com_names.h"
#include "link/run_state.h"

namespace {

HANDLE Handle(PortHandle port) { return reinterpret_cast<HANDLE>(port); }

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

}  // namespace

PortHandle SerialOpen(const char* path, uint32_t baud) {
  HANDLE handle = OpenDevice(path);
  if (handle == INVALID_HANDLE_VALUE) return kInvalidPort;

  DCB dcb;
  std::memset(&dcb, 0, sizeof dcb);
  dcb.DCBlength = sizeof dcb;
  if (GetCommState(handle, &dcb)) {
    dcb.BaudRate = baud;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = TRUE;
    dcb.fOutX = FALSE;
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

  return reinterpret_cast<PortHandle>(handle);
}

int32_t SerialRead(PortHandle port, void* buffer, int32_t count) {
  if (count <= 0) return 0;
  DWORD got = 0;
  if (!ReadFile(Handle(port), buffer, static_cast<DWORD>(count), &got, nullptr)) return -1;
  return static_cast<int32_t>(got);
}

int32_t SerialWrite(PortHandle port, const void* bytes, int32_t count) {
  DWORD written = 0;
  if (!WriteFile(Handle(port), bytes, static_cast<DWORD>(count), &written, nullptr)) {
    return written ? static_cast<int32_t>(written) : -1;
  }
  return static_cast<int32_t>(written);
}

int32_t SerialInputWaiting(PortHandle port) {
  DWORD errors = 0;
  COMSTAT status;
  std::memset(&status, 0, sizeof status);
  if (!ClearCommError(Handle(port), &errors, &status)) return -1;
  return static_cast<int32_t>(status.cbInQue);
}

void SerialClose(PortHandle port) {
  if (port != kInvalidPort) CloseHandle(Handle(port));
}

std::vector<std::string> SerialPortPaths(const std::string& portName) {
  return Win32PortPaths(portName);
}

int ListComPorts(std::vector<std::string>* names) {
  std::memset(portPresent, 0, sizeof portPresent);
  return IsNtFamily() ? ListFromDeviceNames(names) : ListByProbing(names);
}
