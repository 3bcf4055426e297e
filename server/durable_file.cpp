#include "server/durable_file.h"

#include <sys/stat.h>

#include <cerrno>

#include "report/file_system.h"

bool WriteDurably(const std::string& path, const char* bytes, size_t size, unsigned mode, std::string* err) {
  FileSystem& files = PlatformFiles();
  FileTarget target;
  target.path = path;
  FileHandle file = 0;
  std::string temporary;
  FileError error = files.CreateTemporaryBeside(target, &file, &temporary);
  if (!error) {
    if (mode != 0666 && ::fchmod(static_cast<int>(file), mode) != 0) error = static_cast<FileError>(errno);
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
