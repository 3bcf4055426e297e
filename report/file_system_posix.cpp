// The writer's file-system calls on POSIX. Temporary files are ".txs" and six
// letters or digits, created exclusively like mkstemp's, with the mode a new
// file normally gets (0666 less the umask) since they become the file, or
// the mode and owner of the file they replace.
#include <fcntl.h>
#include <sys/stat.h>
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
  FileError Inspect(const std::string& path, FileTarget* target) override {
    *target = FileTarget();
    std::string current = path;
    for (int hops = 0; hops <= kMaxLinks; ++hops) {
      struct stat status;
      if (::lstat(current.c_str(), &status) != 0) {
        if (errno != ENOENT) return LastError();
        target->path = current;  // a new file here (or the folder is missing, which creating it tells)
        return 0;
      }
      if (S_ISLNK(status.st_mode)) {
        std::string link;
        if (FileError error = ReadLink(current, &link)) return error;
        current = link[0] == '/' ? link : FolderOf(current) + link;
        continue;
      }
      if (S_ISDIR(status.st_mode)) return EISDIR;
      target->path = current;
      target->kind = S_ISREG(status.st_mode) ? FileRegular : FileOther;
      target->mode = static_cast<uint32_t>(status.st_mode & 0777);
      target->owner = static_cast<uint32_t>(status.st_uid);
      target->group = static_cast<uint32_t>(status.st_gid);
      return 0;
    }
    return ELOOP;
  }

  FileError CreateTemporaryBeside(const FileTarget& target, FileHandle* file, std::string* path) override {
    static std::atomic<uint64_t> counter{0};
    const uint64_t base = static_cast<uint64_t>(::getpid()) << 40 ^
                          static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    // A file that replaces another is readable by no one else until it has
    // the other's permission bits.
    const mode_t mode = target.kind == FileRegular ? 0600 : 0666;
    for (int attempt = 0; attempt < 100; ++attempt) {
      *path = FolderOf(target.path) + TemporaryName(base + counter++);
      int fd = ::open(path->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
      if (fd >= 0) {
        if (target.kind == FileRegular) TakeOver(fd, target);
        *file = fd;
        return 0;
      }
      if (errno != EEXIST) return LastError();
    }
    return EEXIST;
  }

  FileError OpenExisting(const std::string& path, FileHandle* file) override {
    return Open(path, O_WRONLY, file);
  }

  FileError OpenInPlace(const std::string& path, FileHandle* file) override { return Open(path, O_RDWR, file); }

  FileError ReadAll(FileHandle file, std::string* bytes) override {
    bytes->clear();
    if (::lseek(static_cast<int>(file), 0, SEEK_SET) < 0) return LastError();
    char buffer[64 * 1024];
    for (;;) {
      ssize_t got = ::read(static_cast<int>(file), buffer, sizeof buffer);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) return LastError();
      if (got == 0) return 0;
      bytes->append(buffer, static_cast<size_t>(got));
    }
  }

  FileError Reserve(FileHandle file, int64_t size) override {
    if (size <= 0) return 0;
    // Keeps the bytes the file holds; where the file system cannot allocate
    // ahead, the C library writes the missing blocks itself.
    int error = ::posix_fallocate(static_cast<int>(file), 0, static_cast<off_t>(size));
    return error == EOPNOTSUPP || error == EINVAL ? 0 : static_cast<FileError>(error);
  }

  FileError Seek(FileHandle file, int64_t offset) override {
    return ::lseek(static_cast<int>(file), static_cast<off_t>(offset), SEEK_SET) < 0 ? LastError() : 0;
  }

  FileError Truncate(FileHandle file, int64_t size) override {
    while (::ftruncate(static_cast<int>(file), static_cast<off_t>(size)) != 0)
      if (errno != EINTR) return LastError();
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

 private:
  // Linux's own limit of links followed in one name.
  static constexpr int kMaxLinks = 40;

  static FileError Open(const std::string& path, int flags, FileHandle* file) {
    int fd = ::open(path.c_str(), flags | O_CLOEXEC);
    if (fd < 0) return LastError();
    *file = fd;
    return 0;
  }

  static FileError ReadLink(const std::string& path, std::string* link) {
    std::string buffer(256, '\0');
    for (;;) {
      ssize_t length = ::readlink(path.c_str(), &buffer[0], buffer.size());
      if (length < 0) return LastError();
      if (static_cast<size_t>(length) < buffer.size()) {
        buffer.resize(static_cast<size_t>(length));
        *link = buffer;
        return link->empty() ? ENOENT : 0;
      }
      buffer.resize(buffer.size() * 2);
    }
  }

  // The replaced file's owner where the process may give it (root may; a
  // user may give the group of a file of its own), then its permission bits,
  // which a change of owner may have cut.
  static void TakeOver(int fd, const FileTarget& target) {
    if (::fchown(fd, static_cast<uid_t>(target.owner), static_cast<gid_t>(target.group)) != 0)
      (void)::fchown(fd, static_cast<uid_t>(-1), static_cast<gid_t>(target.group));
    (void)::fchmod(fd, static_cast<mode_t>(target.mode));
  }
};

}  // namespace

FileSystem& PlatformFiles() {
  static PosixFiles files;
  return files;
}

bool IsAccessDenied(FileError error) { return error == EACCES || error == EPERM; }

bool IsNotFound(FileError error) { return error == ENOENT; }

std::string FileErrorText(FileError error) { return std::strerror(static_cast<int>(error)); }
