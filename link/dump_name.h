#pragma once
// Where a received image is stored: the current directory, the device id and
// ".bin".
#include <string>

// The dump file name for the six id bytes at `deviceId`: the process's
// current directory, the path separator, the id and ".bin" (C:\Data\123456.bin,
// /home/u/123456.bin). Id bytes that a file name cannot safely hold (path
// separators, ':', '*', '?', '"', '<', '>', '|', control bytes and NUL) become
// '_', so a device can never direct the file out of the current directory.
std::string MakeDumpName(const char* deviceId);

// Platform side (current_dir_*.cpp): the current directory as the system
// gives it ("." when it cannot be had), and the separator to append.
std::string CurrentDirectory();
extern const char kPathSeparator;
