// Whole-file writes on POSIX: a temporary file beside the target, renamed
// over it only when every byte is on disk.
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>

#include "report/report_run.h"

namespace {

void ShowSystemError(int error) {
  Ui().ShowMessage(nullptr, std::strerror(error), "Error", MessageIconError);
}

bool WriteAll(int fd, const char* bytes, int64_t length) {
  while (length > 0) {
    ssize_t written = ::write(fd, bytes, static_cast<size_t>(length));
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      if (written == 0) errno = ENOSPC;
      return false;
    }
    bytes += written;
    length -= written;
  }
  return true;
}

}  // namespace

bool WriteBufferToFile(const char* fileName, const char* bytes, int64_t length) {
  static std::atomic<unsigned> counter{0};
  std::string temporary = std::string(fileName) + ".tmp" + std::to_string(::getpid()) + "-" +
                          std::to_string(counter++);
  int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) {
    ShowSystemError(errno);
    return false;
  }
  bool written = WriteAll(fd, bytes, length);
  int error = errno;
  if (::close(fd) != 0 && written) {
    written = false;
    error = errno;
  }
  if (written && ::rename(temporary.c_str(), fileName) != 0) {
    written = false;
    error = errno;
  }
  if (!written) {
    ::unlink(temporary.c_str());
    ShowSystemError(error);
  }
  return written;
}
