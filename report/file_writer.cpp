// Whole-file writes: the new content goes to a temporary file beside the
// target, onto the disk, and then over the target, so a failure or a power
// cut leaves either the old file or the new one. Where the folder refuses new
// files but the target itself may be written, the target is rewritten in
// place instead, as a plain write would do.
#include <utility>
#include <vector>

#include "report/file_identity.h"
#include "report/file_system.h"
#include "report/report_run.h"

namespace {

std::vector<std::string>& GuardedDumps() {
  static std::vector<std::string> guarded;
  return guarded;
}

bool IsGuardedDump(const std::string& target) {
  for (const std::string& dump : GuardedDumps())
    if (SameRegularFile(dump, target)) return true;
  return false;
}

void ShowSystemError(FileError error) {
  Ui().ShowMessage(nullptr, FileErrorText(error).c_str(), "Error", MessageIconError);
}

// Writes, flushes and closes an open file; the first error wins, and the
// file is closed on every path.
FileError WriteFlushClose(FileSystem& files, FileHandle file, const char* bytes, int64_t length) {
  FileError error = files.Write(file, bytes, length);
  if (!error) error = files.Flush(file);
  FileError closed = files.Close(file);
  return error ? error : closed;
}

FileError ReplaceThroughTemporary(FileSystem& files, const std::string& target, const char* bytes,
                                  int64_t length) {
  FileHandle file = 0;
  std::string temporary;
  FileError error = files.CreateTemporaryBeside(target, &file, &temporary);
  if (error) return error;
  error = WriteFlushClose(files, file, bytes, length);
  if (!error) error = files.Replace(temporary, target);
  if (error) files.Remove(temporary);
  return error;
}

}  // namespace

DumpWriteGuard::DumpWriteGuard(std::string path) { GuardedDumps().push_back(std::move(path)); }

DumpWriteGuard::~DumpWriteGuard() { GuardedDumps().pop_back(); }

bool WriteBufferToFile(const char* fileName, const char* bytes, int64_t length) {
  FileSystem& files = Files();
  const std::string target = fileName;
  if (IsGuardedDump(target)) {
    Ui().ShowFileError(target, "it is the dump itself");
    return false;
  }
  FileError error = ReplaceThroughTemporary(files, target, bytes, length);
  if (error && IsAccessDenied(error)) {
    // The folder takes no new file (or the target cannot be replaced): write
    // the target itself. When there is no target to write, the refusal stands.
    FileHandle file = 0;
    FileError inPlace = files.OpenTruncated(target, &file);
    if (!inPlace) inPlace = WriteFlushClose(files, file, bytes, length);
    if (!inPlace || !IsNotFound(inPlace)) error = inPlace;
  }
  if (error) ShowSystemError(error);
  return !error;
}
