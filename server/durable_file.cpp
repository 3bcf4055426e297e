#include "server/durable_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "report/file_system.h"

bool OwnerOf(const std::string& path, FileOwner* owner) {
  struct stat info;
  if (::stat(path.c_str(), &info) != 0) return false;
  owner->uid = info.st_uid;
  owner->gid = info.st_gid;
  return true;
}

bool WriteDurably(const std::string& path, const char* bytes, size_t size, unsigned mode, std::string* err,
                  const FileOwner* newOwner) {
  FileSystem& files = PlatformFiles();
  FileTarget target;
  // A file there already is taken over: its replacement gets its owner and mode.
  FileError error = files.Inspect(path, &target);
  FileHandle file = 0;
  std::string temporary;
  if (!error) error = files.CreateTemporaryBeside(target, &file, &temporary);
  if (!error) {
    const int fd = static_cast<int>(file);
    if (target.kind == FileMissing && mode != 0666 && ::fchmod(fd, mode) != 0) error = static_cast<FileError>(errno);
    if (!error && target.kind == FileMissing && newOwner && ::fchown(fd, newOwner->uid, newOwner->gid) != 0)
      error = static_cast<FileError>(errno);
    if (!error) error = files.Write(file, bytes, static_cast<int64_t>(size));
    if (!error) error = files.Flush(file);
    FileError closed = files.Close(file);
    if (!error) error = closed;
    if (!error) error = files.Replace(temporary, path);
    if (error) files.Remove(temporary);
  }
  if (error) *err = "cannot write '" + path + "': " + FileErrorText(error);
  return !error;
}

bool SyncFolder(const std::string& folder, std::string* err) {
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0 || ::fsync(fd) != 0) {
    *err = "cannot put the folder '" + folder + "' on the disk: " + std::strerror(errno);
    if (fd >= 0) ::close(fd);
    return false;
  }
  ::close(fd);
  return true;
}
