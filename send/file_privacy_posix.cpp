#include <sys/stat.h>

#include "send/file_privacy.h"

bool OthersMayRead(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 && (info.st_mode & (S_IRGRP | S_IROTH)) != 0;
}
