#pragma once
// Whether others than the file's owner may read a file that holds a secret
// (a token file): POSIX permission bits (file_privacy_posix.cpp); Windows
// files carry access lists instead, which the system's defaults keep to the
// user's profile (file_privacy_win32.cpp says no).
#include <string>

bool OthersMayRead(const std::string& path);
