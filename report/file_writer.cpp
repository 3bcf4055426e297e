// Whole-file writes. A name that is a symbolic link is followed to its final
// target, which is what gets written (the link stays). A regular file (or a
// new one) is replaced: the new content goes to a temporary file beside it,
// onto the disk, and then over it, with its permission bits and owner, so a
// failure or a power cut leaves either the old file or the new one. Where the
// folder refuses new files but the file itself may be written, it is
// rewritten in place, with room for the new content reserved first and the
// old content put back if a write fails after all. Anything else (a FIFO, a
// character device) is written into, as a shell's redirection would.
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

// Hands the content's bytes to an open file in pieces of a useful size; the
// first error stops the writing and is kept.
class FileFeed {
 public:
  FileFeed(FileSystem& files, FileHandle file) : files_(files), file_(file) {}

  bool Take(const char* bytes, size_t length) {
    if (error_) return false;
    if (buffer_.size() + length > kPiece) Drain();
    if (length >= kPiece && !error_) {
      error_ = files_.Write(file_, bytes, static_cast<int64_t>(length));
    } else if (!error_) {
      buffer_.append(bytes, length);
    }
    return !error_;
  }
  // The first error of the writes, after the last piece.
  FileError Finish() {
    Drain();
    return error_;
  }

 private:
  static constexpr size_t kPiece = 64 * 1024;

  void Drain() {
    if (!error_ && !buffer_.empty()) error_ = files_.Write(file_, buffer_.data(), static_cast<int64_t>(buffer_.size()));
    buffer_.clear();
  }

  FileSystem& files_;
  FileHandle file_;
  std::string buffer_;
  FileError error_ = 0;
};

FileError WriteContent(FileSystem& files, FileHandle file, const FileContent& content) {
  FileFeed feed(files, file);
  content([&feed](const char* bytes, size_t length) { return feed.Take(bytes, length); });
  return feed.Finish();
}

int64_t MeasureContent(const FileContent& content) {
  int64_t size = 0;
  content([&size](const char*, size_t length) {
    size += static_cast<int64_t>(length);
    return true;
  });
  return size;
}

// The file is closed on every path; the first error wins.
FileError CloseAfter(FileSystem& files, FileHandle file, FileError error) {
  FileError closed = files.Close(file);
  return error ? error : closed;
}

FileError ReplaceThroughTemporary(FileSystem& files, const FileTarget& target, const FileContent& content) {
  FileHandle file = 0;
  std::string temporary;
  FileError error = files.CreateTemporaryBeside(target, &file, &temporary);
  if (error) return error;
  error = WriteContent(files, file, content);
  if (!error) error = files.Flush(file);
  error = CloseAfter(files, file, error);
  if (!error) error = files.Replace(temporary, target.path);
  if (error) files.Remove(temporary);
  return error;
}

// The file itself is written: its folder takes no temporary. Nothing is
// cut before the room for the new content is there, and a write that fails
// all the same gets the old bytes written back.
FileError RewriteInPlace(FileSystem& files, const std::string& path, const FileContent& content) {
  const int64_t size = MeasureContent(content);
  FileHandle file = 0;
  FileError error = files.OpenInPlace(path, &file);
  if (error) return error;
  std::string old;
  error = files.ReadAll(file, &old);
  if (error) return CloseAfter(files, file, error);
  const int64_t oldSize = static_cast<int64_t>(old.size());
  error = files.Reserve(file, size);
  if (error) {
    files.Truncate(file, oldSize);  // what the reserve may have added
    return CloseAfter(files, file, error);
  }
  error = files.Seek(file, 0);
  if (!error) error = WriteContent(files, file, content);
  if (!error) error = files.Truncate(file, size);
  if (!error) error = files.Flush(file);
  if (error && !files.Seek(file, 0) && !files.Write(file, old.data(), oldSize) && !files.Truncate(file, oldSize))
    files.Flush(file);
  return CloseAfter(files, file, error);
}

// A FIFO or a device takes the bytes as they come; there is nothing to
// replace and nothing to sync.
FileError WriteInto(FileSystem& files, const std::string& path, const FileContent& content) {
  FileHandle file = 0;
  FileError error = files.OpenExisting(path, &file);
  if (error) return error;
  return CloseAfter(files, file, WriteContent(files, file, content));
}

FileError WriteWhole(FileSystem& files, const std::string& name, const FileContent& content) {
  FileTarget target;
  FileError error = files.Inspect(name, &target);
  if (error) return error;
  if (target.kind == FileOther) return WriteInto(files, target.path, content);
  error = ReplaceThroughTemporary(files, target, content);
  // The folder takes no new file (or the file cannot be replaced): write the
  // file itself. When there is no file to write, the refusal stands.
  if (error && IsAccessDenied(error) && target.kind == FileRegular) error = RewriteInPlace(files, target.path, content);
  return error;
}

}  // namespace

DumpWriteGuard::DumpWriteGuard(std::string path) { GuardedDumps().push_back(std::move(path)); }

DumpWriteGuard::~DumpWriteGuard() { GuardedDumps().pop_back(); }

bool WriteFileContent(const char* fileName, const FileContent& content) {
  const std::string name = fileName;
  if (IsGuardedDump(name)) {
    Ui().ShowFileError(name, "it is the dump itself");
    return false;
  }
  FileError error = WriteWhole(Files(), name, content);
  if (error) Ui().ShowFileError(name, FileErrorText(error));
  return !error;
}

bool WriteBufferToFile(const char* fileName, const char* bytes, int64_t length) {
  return WriteFileContent(fileName, [bytes, length](const FileBytesSink& write) {
    // Pieces a size_t holds on every build, whatever the length.
    constexpr int64_t kPiece = 1 << 30;
    for (int64_t at = 0; at < length; at += kPiece) {
      int64_t piece = length - at < kPiece ? length - at : kPiece;
      if (!write(bytes + at, static_cast<size_t>(piece))) return;
    }
  });
}
