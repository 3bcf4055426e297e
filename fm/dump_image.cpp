#include "fm/dump_image.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

DumpLoadResult LoadDumpImage(const std::string& path, DumpBytes* bytes, int* error) {
  bytes->clear();
  *error = 0;
  // A folder opens as a stream on some systems and then reads nothing.
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) {
    *error = EISDIR;
    return DumpOpenFailed;
  }
  errno = 0;
  FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) {
    *error = errno ? errno : ENOENT;
    return DumpOpenFailed;
  }
  // Grows as the bytes come: a pipe tells no size in advance.
  constexpr size_t kLimit = static_cast<size_t>(kDumpImageCap) + 1;
  constexpr size_t kChunk = 64 * 1024;
  while (bytes->size() < kLimit) {
    size_t at = bytes->size();
    bytes->resize(std::min(kLimit, at + kChunk));
    size_t got = std::fread(bytes->data() + at, 1, bytes->size() - at, file);
    bytes->resize(at + got);
    if (got == 0) break;
  }
  bool failed = std::ferror(file) != 0;
  int readError = errno;
  std::fclose(file);
  if (failed) {
    *error = readError ? readError : EIO;
    bytes->clear();
    return DumpOpenFailed;
  }
  return bytes->size() > static_cast<size_t>(kDumpImageCap) ? DumpOverCap : DumpLoaded;
}

uint8_t* CInputMemory::Read(uint8_t* buffer, int32_t count) {
  if (count < 0) return nullptr;
  int64_t taken = std::max<int64_t>(0, std::min<int64_t>(size_ - position_, count));
  if (taken > 0) std::memcpy(buffer, bytes_ + position_, static_cast<size_t>(taken));
  position_ += taken;
  return taken == count ? buffer : nullptr;
}

int32_t CInputMemory::Seek(int32_t offset) {
  if (offset < 0) return 0;
  // As a file stream: a position past the end is allowed and reads nothing.
  position_ = offset;
  return offset;
}
