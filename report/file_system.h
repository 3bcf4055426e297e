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

class FileSystem {
 public:
  virtual ~FileSystem();

  // Creates a new, empty file with a short unique name in the folder of
  // `target` (so a temporary name fits wherever the target's name does) and
  // opens it for writing; *path is its full name.
  virtual FileError CreateTemporaryBeside(const std::string& target, FileHandle* file,
                                          std::string* path) = 0;
  // Opens an existing file for writing, cut to length 0. Never creates one.
  virtual FileError OpenTruncated(const std::string& path, FileHandle* file) = 0;
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
