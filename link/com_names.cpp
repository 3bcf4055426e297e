#include "link/com_names.h"

#include <cctype>
#include <cstring>

namespace {

bool StartsWithCom(const char* name) {
  return std::toupper(static_cast<unsigned char>(name[0])) == 'C' &&
         std::toupper(static_cast<unsigned char>(name[1])) == 'O' &&
         std::toupper(static_cast<unsigned char>(name[2])) == 'M';
}

}  // namespace

long ComNameNumber(const char* name) {
  const char* p = name;
  if (std::strlen(name) >= 3 && StartsWithCom(name)) p += 3;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  long value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    if (value < 100000) value = value * 10 + (*p - '0');
  }
  return negative ? -value : value;
}

int CountComNames(const char* list, size_t size, uint8_t present[256],
                  std::vector<std::string>* names) {
  int count = 0;
  size_t at = 0;
  while (at < size && list[at] != '\0') {
    // A name runs to its NUL or, in a list cut short, to the end of the area.
    const char* name = list + at;
    size_t length = 0;
    while (at + length < size && name[length] != '\0') ++length;
    if (length > 3 && StartsWithCom(name)) {
      std::string text(name, length);
      ++count;
      long number = ComNameNumber(text.c_str());
      if (number >= 0 && number <= 255) present[number] = 1;
      if (names) names->push_back(text);
    }
    at += length + 1;
  }
  return count;
}

std::vector<std::string> Win32PortPaths(const std::string& portName) {
  if (portName.empty()) return {};
  return {"\\\\.\\" + portName, portName};
}

std::vector<std::string> PosixPortPaths(const std::string& portName) {
  std::string name = portName;
  if (name.compare(0, 4, "\\\\.\\") == 0) name.erase(0, 4);
  if (name.empty()) return {};
  if (name.find('/') != std::string::npos) return {name};
  if (name.size() > 3 && StartsWithCom(name.c_str())) {
    bool digits = true;
    for (size_t i = 3; i < name.size(); ++i) digits = digits && name[i] >= '0' && name[i] <= '9';
    long number = digits && name.size() <= 6 ? ComNameNumber(name.c_str()) : 0;
    if (number >= 1 && number <= 256) return {"/dev/ttyS" + std::to_string(number - 1)};
  }
  return {"/dev/" + name};
}
