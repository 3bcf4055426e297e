#pragma once
// The local serial port as the platform offers it. serial_line_win32.cpp maps
// it onto the Win32 communications API, serial_line_posix.cpp onto termios
// and poll(). Every port runs 8N1 at the speed given to OpenSerialLine, with
// the time-outs of device_line.h.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "link/device_line.h"

// Opens the device at `path` for reading and writing, not shared with other
// programs, existing devices only, and sets the line and the time-outs.
// Failing to set them does not fail the open: the port is then used with the
// settings it has. Null when the device cannot be opened or is no serial
// port (not a terminal on POSIX, not a character device on Windows), which is
// then never written to.
std::unique_ptr<DeviceLine> OpenSerialLine(const char* path, uint32_t baud);

// The device paths to try, in order, for a port name chosen or typed by the
// user (COM3, ttyUSB0, /dev/ttyACM0, \\.\COM10).
std::vector<std::string> SerialPortPaths(const std::string& portName);

// Finds the serial ports of this machine: clears and fills portPresent
// (run_state.h) and gives the number of ports found. When `names` is given it
// receives the ports' names as OpenComPort accepts them.
int ListComPorts(std::vector<std::string>* names = nullptr);
