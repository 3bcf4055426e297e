#include <unistd.h>

#include <climits>
#include <string>

#include "link/dump_name.h"

const char kPathSeparator = '/';

std::string CurrentDirectory() {
  char path[PATH_MAX];
  return getcwd(path, sizeof path) ? std::string(path) : std::string(".");
}
