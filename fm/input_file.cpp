#include "fm/input_file.h"

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "fm/dump_image.h"

namespace {
// Records are read 11 bytes and then the rest at a time; a larger stream
// buffer keeps that from turning into a system call per record.
constexpr size_t kStreamBuffer = 64 * 1024;
}  // namespace

CInputFileBin::CInputFileBin(const char* path) {
  errno = 0;
  if (!path) {
    openError = ENOENT;
    return;
  }
  // A folder opens as a stream on some systems and then reads nothing: say
  // so instead of reporting an empty dump.
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) {
    openError = EISDIR;
    return;
  }
  // Anything but a regular file (a pipe, a FIFO, a character device) is a
  // stream: a walk that seeks in it would read other bytes than the dump's.
  std::filesystem::file_status status = std::filesystem::status(path, ec);
  if (!ec && status.type() != std::filesystem::file_type::regular) {
    switch (LoadDumpImage(path, &heldBytes, &openError)) {
      case DumpLoaded:
        held = std::make_unique<CInputMemory>(heldBytes.data(), static_cast<int64_t>(heldBytes.size()));
        return;
      case DumpOverCap:
        heldBytes = std::vector<uint8_t>();
        openError = EFBIG;
        return;
      case DumpOpenFailed:
        return;
    }
  }
  file = std::fopen(path, "rb");
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
  if (held) return held->Read(buffer, count);
  if (!file) return nullptr;
  if (count <= 0) return count == 0 ? buffer : nullptr;
  size_t got = std::fread(buffer, 1, static_cast<size_t>(count), file);
  return got == static_cast<size_t>(count) ? buffer : nullptr;
}

int32_t CInputFileBin::GetPosition() { return Tell(); }

int32_t CInputFileBin::Seek(int32_t offset) {
  if (held) return held->Seek(offset);
  if (!file || offset < 0) return 0;
  if (std::fseek(file, offset, SEEK_SET) != 0) return 0;
  return offset;
}

int32_t CInputFileBin::Tell() {
  if (held) return held->Tell();
  if (!file) return 0;
  long position = std::ftell(file);
  return position < 0 ? -1 : static_cast<int32_t>(position);
}
