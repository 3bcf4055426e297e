#include "link/sysfs_ports.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

bool Exists(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0;
}

// "0" in the type attribute: the kernel keeps the slot, no UART answered.
bool IsEmptyUartSlot(const std::string& entryDir) {
  FILE* file = std::fopen((entryDir + "/type").c_str(), "r");
  if (!file) return false;
  int type = -1;
  bool empty = std::fscanf(file, "%d", &type) == 1 && type == 0;
  std::fclose(file);
  return empty;
}

// ttyUSB10 sorts after ttyUSB9: the alphabetic stem first, then the number.
bool NaturalLess(const std::string& a, const std::string& b) {
  size_t stemA = a.find_first_of("0123456789");
  size_t stemB = b.find_first_of("0123456789");
  std::string headA = a.substr(0, stemA), headB = b.substr(0, stemB);
  if (headA != headB) return headA < headB;
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;
}

}  // namespace

std::vector<std::string> SysfsSerialPorts(const std::string& classDir) {
  std::vector<std::string> ports;
  DIR* dir = opendir(classDir.c_str());
  if (!dir) return ports;
  while (dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    std::string entryDir = classDir + "/" + name;
    if (!Exists(entryDir + "/device/driver")) continue;
    if (IsEmptyUartSlot(entryDir)) continue;
    ports.push_back(name);
  }
  closedir(dir);
  std::sort(ports.begin(), ports.end(), NaturalLess);
  return ports;
}

int ComNumberOfDevice(const std::string& name) {
  if (name.compare(0, 4, "ttyS") != 0 || name.size() == 4 || name.size() > 7) return 0;
  int number = 0;
  for (size_t i = 4; i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9') return 0;
    number = number * 10 + (name[i] - '0');
  }
  return number + 1;
}
