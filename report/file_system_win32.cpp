// The writer's file-system calls on Windows. Temporary files are "~" and four
// letters or digits, created with CREATE_NEW as GetTempFileNameA does, but no
// longer than any ".bin" or ".txt" name: so a target near MAX_PATH still gets
// a temporary beside it.
#include <windows.h>

#include "report/file_system.h"

const FileError kFileAccessDenied = ERROR_ACCESS_DENIED;
const FileError kFileDiskFull = ERROR_HANDLE_DISK_FULL;

namespace {

// The largest piece one WriteFile call is given.
constexpr int64_t kWriteChunk = 1 << 30;

HANDLE AsHandle(FileHandle file) { return reinterpret_cast<HANDLE>(file); }

// The folder part of a path, with its separator or drive colon ("" for a bare name).
std::string FolderOf(const std::string& path) {
  size_t end = path.find_last_of("\\/:");
  return end == std::string::npos ? std::string() : path.substr(0, end + 1);
}

std::string TemporaryName(uint32_t seed) {
  static const char kLetters[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  uint32_t z = seed * 2654435761u;
  z ^= z >> 15;
  std::string name = "~";
  for (int i = 0; i < 4; ++i, z /= 36) name += kLetters[z % 36];
  return name;
}

class Win32Files : public FileSystem {
 public:
  // Links are not followed here: MoveFileEx replaces a link itself. A name
  // that opens as a console, a pipe or a device ("NUL", "CON", "\\.\...")
  // is no file to replace.
  FileError Inspect(const std::string& path, FileTarget* target) override {
    *target = FileTarget();
    target->path = path;
    if (path.rfind("\\\\.\\", 0) == 0) {
      target->kind = FileOther;
      return 0;
    }
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return ERROR_ACCESS_DENIED;
    HANDLE handle = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    // A file that does not open even so (another program holds it) is
    // still a file; a name that does not open at all is a new one, or what
    // creating it will tell.
    if (handle == INVALID_HANDLE_VALUE) {
      if (attributes != INVALID_FILE_ATTRIBUTES) target->kind = FileRegular;
      return 0;
    }
    target->kind = GetFileType(handle) == FILE_TYPE_DISK ? FileRegular : FileOther;
    CloseHandle(handle);
    return 0;
  }

  FileError CreateTemporaryBeside(const FileTarget& target, FileHandle* file, std::string* path) override {
    static uint32_t counter = 0;
    const uint32_t base = GetCurrentProcessId() * 7919u + GetTickCount();
    for (int attempt = 0; attempt < 100; ++attempt) {
      *path = FolderOf(target.path) + TemporaryName(base + counter++);
      HANDLE handle = CreateFileA(path->c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                  nullptr);
      if (handle != INVALID_HANDLE_VALUE) {
        *file = reinterpret_cast<FileHandle>(handle);
        return 0;
      }
      DWORD error = GetLastError();
      if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return error;
    }
    return ERROR_FILE_EXISTS;
  }

  FileError OpenExisting(const std::string& path, FileHandle* file) override {
    return Open(path, GENERIC_WRITE, file);
  }

  FileError OpenInPlace(const std::string& path, FileHandle* file) override {
    return Open(path, GENERIC_READ | GENERIC_WRITE, file);
  }

  FileError ReadAll(FileHandle file, std::string* bytes) override {
    bytes->clear();
    if (FileError error = Seek(file, 0)) return error;
    char buffer[64 * 1024];
    for (;;) {
      DWORD got = 0;
      if (!ReadFile(AsHandle(file), buffer, sizeof buffer, &got, nullptr)) return GetLastError();
      if (got == 0) return 0;
      bytes->append(buffer, got);
    }
  }

  // Extending the file allocates its clusters: a full disk fails here.
  FileError Reserve(FileHandle file, int64_t size) override {
    LARGE_INTEGER current;
    if (!GetFileSizeEx(AsHandle(file), &current)) return GetLastError();
    return size > current.QuadPart ? Truncate(file, size) : 0;
  }

  FileError Seek(FileHandle file, int64_t offset) override {
    LARGE_INTEGER to;
    to.QuadPart = offset;
    return SetFilePointerEx(AsHandle(file), to, nullptr, FILE_BEGIN) ? 0 : GetLastError();
  }

  FileError Truncate(FileHandle file, int64_t size) override {
    LARGE_INTEGER kept, to;
    LARGE_INTEGER zero = {};
    if (!SetFilePointerEx(AsHandle(file), zero, &kept, FILE_CURRENT)) return GetLastError();
    to.QuadPart = size;
    FileError error = 0;
    if (!SetFilePointerEx(AsHandle(file), to, nullptr, FILE_BEGIN) || !SetEndOfFile(AsHandle(file)))
      error = GetLastError();
    SetFilePointerEx(AsHandle(file), kept, nullptr, FILE_BEGIN);
    return error;
  }

  FileError Write(FileHandle file, const char* bytes, int64_t length) override {
    while (length > 0) {
      DWORD piece = static_cast<DWORD>(length < kWriteChunk ? length : kWriteChunk);
      DWORD written = 0;
      if (!WriteFile(AsHandle(file), bytes, piece, &written, nullptr)) return GetLastError();
      if (written == 0) return ERROR_HANDLE_DISK_FULL;
      bytes += written;
      length -= written;
    }
    return 0;
  }

  FileError Flush(FileHandle file) override { return FlushFileBuffers(AsHandle(file)) ? 0 : GetLastError(); }

  FileError Close(FileHandle file) override { return CloseHandle(AsHandle(file)) ? 0 : GetLastError(); }

  FileError Replace(const std::string& from, const std::string& to) override {
    // Write-through: the call returns once the move is on the disk.
    if (!MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
      return GetLastError();
    return 0;
  }

  void Remove(const std::string& path) override { DeleteFileA(path.c_str()); }

 private:
  static FileError Open(const std::string& path, DWORD access, FileHandle* file) {
    HANDLE handle = CreateFileA(path.c_str(), access, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return GetLastError();
    *file = reinterpret_cast<FileHandle>(handle);
    return 0;
  }
};

}  // namespace

FileSystem& PlatformFiles() {
  static Win32Files files;
  return files;
}

bool IsAccessDenied(FileError error) { return error == ERROR_ACCESS_DENIED; }

bool IsNotFound(FileError error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

std::string FileErrorText(FileError error) {
  char text[1024] = "";
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                 MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text, sizeof text, nullptr);
  return text;
}
