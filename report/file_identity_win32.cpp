// Files are the same when they share volume serial number and file index;
// opening a name follows its links.
#include <windows.h>

#include "report/file_identity.h"

namespace {

struct Identity {
  DWORD volume = 0;
  DWORD indexHigh = 0;
  DWORD indexLow = 0;
};

// A regular file on a disk: not a folder, a console, a pipe or a device.
bool IdentityOf(HANDLE file, Identity* identity) {
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &info)) return false;
  if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return false;
  identity->volume = info.dwVolumeSerialNumber;
  identity->indexHigh = info.nFileIndexHigh;
  identity->indexLow = info.nFileIndexLow;
  return true;
}

bool IdentityOf(const std::string& path, Identity* identity) {
  // No access asked: only the file's information, whoever holds it open.
  HANDLE file = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  bool known = IdentityOf(file, identity);
  CloseHandle(file);
  return known;
}

bool Same(const Identity& a, const Identity& b) {
  return a.volume == b.volume && a.indexHigh == b.indexHigh && a.indexLow == b.indexLow;
}

}  // namespace

bool SameRegularFile(const std::string& a, const std::string& b) {
  Identity first, second;
  return IdentityOf(a, &first) && IdentityOf(b, &second) && Same(first, second);
}

bool StdoutIsRegularFile(const std::string& path) {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  Identity first, second;
  return out != nullptr && out != INVALID_HANDLE_VALUE && IdentityOf(out, &first) && IdentityOf(path, &second) &&
         Same(first, second);
}
