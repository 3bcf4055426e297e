#include "server/state_dir.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

StatePaths StatePathsOf(const std::string& dir) {
  StatePaths paths;
  paths.dir = dir;
  paths.ledger = dir + "/ledger.db";
  paths.dumps = dir + "/dumps";
  paths.withdrawn = dir + "/withdrawn";
  paths.tokens = dir + "/tokens";
  paths.lock = dir + "/lock";
  return paths;
}

bool PrepareStateDir(const std::string& dir, std::string* err) {
  struct stat info;
  if (::stat(dir.c_str(), &info) == 0) {
    if (S_ISDIR(info.st_mode)) return true;
    *err = "'" + dir + "' is not a folder";
    return false;
  }
  if (errno == ENOENT && ::mkdir(dir.c_str(), 0750) == 0) return true;
  *err = "cannot make the state folder '" + dir + "': " + std::strerror(errno);
  return false;
}

StateLock::~StateLock() {
  if (fd_ >= 0) ::close(fd_);
}

bool StateLock::Acquire(const std::string& path, std::string* err, const FileOwner* newOwner) {
  fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0640);
  if (fd_ >= 0 && newOwner) (void)::fchown(fd_, newOwner->uid, newOwner->gid);
  if (fd_ < 0 && errno == EEXIST) fd_ = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd_ < 0) {
    *err = "cannot open '" + path + "': " + std::strerror(errno);
    return false;
  }
  if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) return true;
  *err = errno == EWOULDBLOCK ? "another taxoscope-server serves or rebuilds this state folder ('" + path + "' is locked)"
                              : "cannot lock '" + path + "': " + std::strerror(errno);
  ::close(fd_);
  fd_ = -1;
  return false;
}
