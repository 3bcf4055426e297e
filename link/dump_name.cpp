#include "link/dump_name.h"

#include <cstring>

#include "link/device_protocol.h"

namespace {

bool SafeInFileName(unsigned char c) {
  return c >= 0x20 && c != 0x7F && !std::strchr("/\\:*?\"<>|", c);
}

}  // namespace

std::string MakeDumpName(const char* deviceId) {
  std::string name = CurrentDirectory();
  name += kPathSeparator;
  for (int i = 0; i < kDeviceIdSize; ++i) {
    unsigned char c = static_cast<unsigned char>(deviceId[i]);
    name += SafeInFileName(c) ? static_cast<char>(c) : '_';
  }
  name += ".bin";
  return name;
}
