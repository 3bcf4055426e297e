#pragma once
// Where the settings live: the executable's path with its extension replaced
// by ".ini" (or ".ini" appended when the file name has no dot).
#include <cstddef>

// Room for the settings path, terminator included.
constexpr std::size_t kIniPathSize = 500;

// Writes the settings path for executablePath into out (size bytes, at least
// 5). Both searches, for the last dot and the last path separator, step over
// double-byte characters, so a trail byte that equals '.' or '\' is not taken
// for one. A path too long to take ".ini" within size bytes is cut at a
// character boundary first, so the result always ends in ".ini" and fits.
void MakeSettingsPath(const char* executablePath, char* out, std::size_t size,
                      bool (*isLeadByte)(unsigned char));
