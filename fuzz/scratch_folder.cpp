#include "fuzz/scratch_folder.h"

#include <unistd.h>

#include <cstdlib>

std::string ScratchFolder() {
  const char* dir = std::getenv("TMPDIR");
  if (dir && *dir) return dir;
  if (access("/dev/shm", W_OK | X_OK) == 0) return "/dev/shm";
  return "/tmp";
}
