#pragma once
// Whether two names lead to one file, whatever the names: a symbolic link,
// a hard link, "./" or another spelling of the folder (file_identity_posix.cpp,
// file_identity_win32.cpp). Used to keep an output from replacing the dump
// it is made from.
#include <string>

// Both name the same existing regular file.
bool SameRegularFile(const std::string& a, const std::string& b);

// Standard output is the existing regular file `path` (redirected to it).
bool StdoutIsRegularFile(const std::string& path);
