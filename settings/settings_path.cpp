#include "settings/settings_path.h"

#include <cstring>

namespace {

const char kExtension[] = ".ini";
const std::size_t kExtensionLength = sizeof kExtension - 1;

bool IsSeparator(char c) {
  // Windows gives backslashes; a forward slash is a separator there too, and
  // the only one elsewhere.
  return c == '\\' || c == '/';
}

}  // namespace

void MakeSettingsPath(const char* executablePath, char* out, std::size_t size,
                      bool (*isLeadByte)(unsigned char)) {
  const std::size_t room = size - kExtensionLength - 1;  // bytes left for the stem
  std::size_t lastDot = std::strlen(executablePath);
  bool dotSeen = false;
  std::size_t fit = 0;  // the longest stem up to a character boundary that fits
  std::size_t i = 0;
  while (executablePath[i] != '\0') {
    std::size_t width = 1;
    if (isLeadByte(static_cast<unsigned char>(executablePath[i])) && executablePath[i + 1] != '\0')
      width = 2;
    if (width == 1 && executablePath[i] == '.') {
      lastDot = i;
      dotSeen = true;
    } else if (width == 1 && IsSeparator(executablePath[i])) {
      dotSeen = false;  // a dot in a folder name is not the extension's
    }
    if (i + width <= room) fit = i + width;
    i += width;
  }
  std::size_t stem = dotSeen ? lastDot : i;
  if (stem > fit) stem = fit;
  std::memcpy(out, executablePath, stem);
  std::memcpy(out + stem, kExtension, kExtensionLength + 1);
}
