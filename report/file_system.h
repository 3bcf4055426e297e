#pragma once
// The file-system calls of the whole-file writer, over the platform's API
// (file_system_posix.cpp, file_system_win32.cpp). The writer reaches them
// through Files(); a test installs a stand-in with SetFiles() that passes
// most calls on to PlatformFiles() and fails the one it is after.
#include <cstdint>
#include <string>

// An open file: a descriptor on POSIX, a HANDLE on Windows.
using FileHandle = intptr_t;

// A system error code (errno, GetLastError()); 0 means the call succeeded.
using FileError = uint32_t;

enum FileKind {
  FileMissing,   // nothing of that name yet
  FileRegular,   // a regular file: replaced whole through a temporary
  FileOther,     // a FIFO, a character device, ...: written into directly
};

// What a name leads to. A symbolic link is followed to its final target
// (POSIX), which is what gets written: the link stays a link.
struct FileTarget {
  std::string path;     // the final target's name
  FileKind kind = FileMissing;
  // A regular file's permission bits and owner (POSIX), which its
  // replacement takes over.
  uint32_t mode = 0;
  uint32_t owner = 0;
  uint32_t group = 0;
};

class FileSystem {
 public:
  virtual ~FileSystem();

  // What `path` leads to; an error only when that cannot be told (a loop of
  // links, a folder in the way, a folder of that name).
  virtual FileError Inspect(const std::string& path, FileTarget* target) = 0;
  // Creates a new, empty file with a short unique name in the folder of
  // `target` (so a temporary name fits wherever the target's name does) and
  // opens it for writing; *path is its full name. It has the permission bits
  // (and, where the process may give it, the owner) of a regular target, the
  // bits a new file gets otherwise.
  virtual FileError CreateTemporaryBeside(const FileTarget& target, FileHandle* file, std::string* path) = 0;
  // Opens an existing file for writing as it is: no cut, never a new file.
  virtual FileError OpenExisting(const std::string& path, FileHandle* file) = 0;
  // Opens an existing regular file for reading and writing as it is.
  virtual FileError OpenInPlace(const std::string& path, FileHandle* file) = 0;
  // Reads an open file from its start to its end.
  virtual FileError ReadAll(FileHandle file, std::string* bytes) = 0;
  // Makes sure the disk holds room for `size` bytes of the file, without
  // changing the bytes it holds (it may grow to `size`, the new bytes zero).
  // A full disk fails here, before anything is written.
  virtual FileError Reserve(FileHandle file, int64_t size) = 0;
  // Moves the position for the next write.
  virtual FileError Seek(FileHandle file, int64_t offset) = 0;
  // Cuts or extends the file to `size` bytes.
  virtual FileError Truncate(FileHandle file, int64_t size) = 0;
  // Writes all the bytes; a write that stops short without an error is a
  // full disk.
  virtual FileError Write(FileHandle file, const char* bytes, int64_t length) = 0;
  // Puts the written bytes on the disk (fsync, FlushFileBuffers).
  virtual FileError Flush(FileHandle file) = 0;
  virtual FileError Close(FileHandle file) = 0;
  // Moves `from` over `to`, replacing it, and puts the move on the disk.
  virtual FileError Replace(const std::string& from, const std::string& to) = 0;
  virtual void Remove(const std::string& path) = 0;
};

// The file system of this process: the platform's unless a test set another.
FileSystem& Files();
void SetFiles(FileSystem* files);  // null restores the platform's
FileSystem& PlatformFiles();

// What the writer needs to know of an error, and the system's text for it.
bool IsAccessDenied(FileError error);
bool IsNotFound(FileError error);
std::string FileErrorText(FileError error);

// This platform's codes for a refused access and a full disk.
extern const FileError kFileAccessDenied;
extern const FileError kFileDiskFull;
