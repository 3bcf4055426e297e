#pragma once
// Port names: counting the COM device names of a Windows system and mapping a
// name typed by the user onto device paths. Pure functions, so both platforms'
// rules are tested everywhere.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Counts the COM names in a list of device names (consecutive NUL-terminated
// strings closed by an empty one, at most `size` characters as the system
// filled them). A name longer than three characters that starts with "COM" in
// any case counts; the decimal number after "COM" (0 when no digit follows)
// sets that entry of `present` when it lies in 0..255. `present` is not
// cleared here. Counted names are appended to `names` when it is given.
int CountComNames(const char* list, size_t size, uint8_t present[256],
                  std::vector<std::string>* names);

// The number written after "COM" in a device name: optional sign, then
// decimal digits; 0 when there are none. Saturates far outside 0..255.
long ComNameNumber(const char* name);

// Windows: "\\.\" in front of the name first, then the name itself, so that a
// name typed with the device prefix (\\.\COM10) works too.
std::vector<std::string> Win32PortPaths(const std::string& portName);

// POSIX: a name with a '/' is a path and is opened as given. COMn (any case,
// n from 1 to 256) is the n-th on-board port, /dev/ttyS(n-1), as Linux counts
// them from 0. Any other name is looked up under /dev (ttyUSB0 is
// /dev/ttyUSB0). A Windows device prefix \\.\ in front is dropped first.
std::vector<std::string> PosixPortPaths(const std::string& portName);
