// Files are the same when they share device and inode; stat follows links.
#include <sys/stat.h>
#include <unistd.h>

#include "report/file_identity.h"

namespace {

bool SameRegular(const struct stat& a, const struct stat& b) {
  return S_ISREG(a.st_mode) && S_ISREG(b.st_mode) && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

bool SameRegularFile(const std::string& a, const std::string& b) {
  struct stat first, second;
  return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 && SameRegular(first, second);
}

bool StdoutIsRegularFile(const std::string& path) {
  struct stat out, file;
  return ::fstat(STDOUT_FILENO, &out) == 0 && ::stat(path.c_str(), &file) == 0 && SameRegular(out, file);
}
