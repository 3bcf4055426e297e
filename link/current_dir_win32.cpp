#include <windows.h>

#include <string>

#include "link/dump_name.h"

const char kPathSeparator = '\\';

std::string CurrentDirectory() {
  char path[4096];
  DWORD length = GetCurrentDirectoryA(sizeof path, path);
  if (length == 0 || length >= sizeof path) return ".";
  return std::string(path, length);
}
