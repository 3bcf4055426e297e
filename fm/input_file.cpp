#include "fm/input_file.h"

#include <cerrno>
#include <filesystem>
#include <system_error>

namespace {
// Records are read 11 bytes and then the rest at a time; a larger stream
// buffer keeps that from turning into a system call per record.
constexpr size_t kStreamBuffer = 64 * 1024;
}  // namespace

CInputFileBin::CInputFileBin(const char* path) {
  errno = 0;
  // A folder opens as a stream on some systems and then reads nothing: say
  // so instead of reporting an empty dump.
  std::error_code ec;
  if (path && std::filesystem::is_directory(path, ec)) {
    openError = EISDIR;
    return;
  }
  file = path ? std::fopen(path, "rb") : nullptr;
  if (!file) {
    openError = errno ? errno : ENOENT;
    return;
  }
  std::setvbuf(file, nullptr, _IOFBF, kStreamBuffer);
}

CInputFileBin::~CInputFileBin() {
  if (file) std::fclose(file);
}

uint8_t* CInputFileBin::Read(uint8_t* buffer, int32_t count) {
  if (!file) return nullptr;
  if (count <= 0) return count == 0 ? buffer : nullptr;
  size_t got = std::fread(buffer, 1, static_cast<size_t>(count), file);
  return got == static_cast<size_t>(count) ? buffer : nullptr;
}

int32_t CInputFileBin::GetPosition() { return Tell(); }

int32_t CInputFileBin::Seek(int32_t offset) {
  if (!file || offset < 0) return 0;
  if (std::fseek(file, offset, SEEK_SET) != 0) return 0;
  return offset;
}

int32_t CInputFileBin::Tell() {
  if (!file) return 0;
  long position = std::ftell(file);
  return position < 0 ? -1 : static_cast<int32_t>(position);
}
