// The writer's file-system calls on POSIX. Temporary files are ".txs" and six
// letters or digits, created exclusively like mkstemp's but with the mode a
// new file normally gets (0666 less the umask), since they become the file.
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "report/file_system.h"

const FileError kFileAccessDenied = EACCES;
const FileError kFileDiskFull = ENOSPC;

namespace {

FileError LastError() { return static_cast<FileError>(errno); }

// The folder part of a path, ending in '/' ("" for a bare name).
std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string TemporaryName(uint64_t seed) {
  static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  uint64_t z = seed + 0x9E3779B97F4A7C15ull;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  z ^= z >> 31;
  std::string name = ".txs";
  for (int i = 0; i < 6; ++i, z /= 62) name += kLetters[z % 62];
  return name;
}

class PosixFiles : public FileSystem {
 public:
  FileError CreateTemporaryBeside(const std::string& target, FileHandle* file, std::string* path) override {
    static std::atomic<uint64_t> counter{0};
    const uint64_t base = static_cast<uint64_t>(::getpid()) << 40 ^
                          static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    for (int attempt = 0; attempt < 100; ++attempt) {
      *path = FolderOf(target) + TemporaryName(base + counter++);
      int fd = ::open(path->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd >= 0) {
        *file = fd;
        return 0;
      }
      if (errno != EEXIST) return LastError();
    }
    return EEXIST;
  }

  FileError OpenTruncated(const std::string& path, FileHandle* file) override {
    int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0) return LastError();
    *file = fd;
    return 0;
  }

  FileError Write(FileHandle file, const char* bytes, int64_t length) override {
    while (length > 0) {
      ssize_t written = ::write(static_cast<int>(file), bytes, static_cast<size_t>(length));
      if (written < 0 && errno == EINTR) continue;
      if (written < 0) return LastError();
      if (written == 0) return ENOSPC;
      bytes += written;
      length -= written;
    }
    return 0;
  }

  FileError Flush(FileHandle file) override {
    while (::fsync(static_cast<int>(file)) != 0)
      if (errno != EINTR) return LastError();
    return 0;
  }

  FileError Close(FileHandle file) override { return ::close(static_cast<int>(file)) == 0 ? 0 : LastError(); }

  FileError Replace(const std::string& from, const std::string& to) override {
    if (::rename(from.c_str(), to.c_str()) != 0) return LastError();
    // The rename itself reaches the disk with the folder. The new file is in
    // place already, so a folder that cannot be synced (some file systems
    // refuse) is no failure of the write.
    std::string folder = FolderOf(to);
    int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
      ::fsync(fd);
      ::close(fd);
    }
    return 0;
  }

  void Remove(const std::string& path) override { ::unlink(path.c_str()); }
};

}  // namespace

FileSystem& PlatformFiles() {
  static PosixFiles files;
  return files;
}

bool IsAccessDenied(FileError error) { return error == EACCES || error == EPERM; }

bool IsNotFound(FileError error) { return error == ENOENT; }

std::string FileErrorText(FileError error) { return std::strerror(static_cast<int>(error)); }
