#pragma once
// The serial line as the platform offers it: the few operations the device
// link is built on. serial_line_win32.cpp maps them onto the Win32
// communications API, serial_line_posix.cpp onto termios and poll().
//
// Every port runs 8N1 at the speed given to SerialOpen, with these time-outs:
// a read of n bytes returns as soon as n bytes are in, 500 ms after the last
// byte that came, or 1000 ms after the call, whichever is first, so it gives
// 0 bytes only after a whole silent second; a write gives up after 1000 ms.
// The loops above (serial_port.h) rely on each read waiting about a second
// at most.
#include <cstdint>
#include <string>
#include <vector>

// A Win32 HANDLE or a POSIX file descriptor. -1 is INVALID_HANDLE_VALUE on
// Windows and no descriptor on POSIX.
using PortHandle = intptr_t;
constexpr PortHandle kInvalidPort = -1;

// Opens the device at `path` for reading and writing, not shared with other
// programs, existing devices only, and sets the line and the time-outs.
// Failing to set them does not fail the open: the port is then used with the
// settings it has. Gives kInvalidPort when the device cannot be opened.
PortHandle SerialOpen(const char* path, uint32_t baud);

// Reads up to `count` bytes under the time-outs above. Gives the number of
// bytes read (0 on time-out), or -1 when the read failed (the device is gone).
int32_t SerialRead(PortHandle port, void* buffer, int32_t count);

// Writes `count` bytes within 1000 ms. Gives the number written, or -1.
int32_t SerialWrite(PortHandle port, const void* bytes, int32_t count);

// Clears the port's error state and gives the number of bytes waiting in the
// input queue, or -1 when the status could not be read.
int32_t SerialInputWaiting(PortHandle port);

void SerialClose(PortHandle port);

// The device paths to try, in order, for a port name chosen or typed by the
// user (COM3, ttyUSB0, /dev/ttyACM0, \\.\COM10).
std::vector<std::string> SerialPortPaths(const std::string& portName);

// Finds the serial ports of this machine: clears and fills portPresent
// (run_state.h) and gives the number of ports found. When `names` is given it
// receives the ports' names as OpenComPort accepts them.
int ListComPorts(std::vector<std::string>* names = nullptr);
