#pragma once
// Files of the server's state that must survive a crash whole: a dump, its
// note, the token list.
#include <sys/types.h>

#include <cstddef>
#include <string>

struct FileOwner {
  uid_t uid = 0;
  gid_t gid = 0;
};

// The owner of a file or folder; false when it cannot be told.
bool OwnerOf(const std::string& path, FileOwner* owner);

// Writes the whole file through a temporary beside it (synced, renamed over
// it, the folder synced); a reader sees the old file or the new, never a part.
// A file replaced keeps its owner (where the process may give it) and its
// permission bits; a new one gets `mode` (before the umask for 0666) and, when
// given, newOwner.
bool WriteDurably(const std::string& path, const char* bytes, size_t size, unsigned mode, std::string* err,
                  const FileOwner* newOwner = nullptr);

// Puts a folder's entries (a new file, a renamed or removed one) on the disk.
bool SyncFolder(const std::string& folder, std::string* err);
