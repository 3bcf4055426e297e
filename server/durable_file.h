#pragma once
// Files of the server's state that must survive a crash whole: a dump, its
// note, the token list.
#include <cstddef>
#include <string>

// Writes the whole file through a temporary beside it (synced, renamed over
// it, the folder synced); a reader sees the old file or the new, never a part.
// `mode` gives the new file's permission bits (before the umask for 0666).
bool WriteDurably(const std::string& path, const char* bytes, size_t size, unsigned mode, std::string* err);
