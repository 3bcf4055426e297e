#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "report/file_system.h"
#include "report/report_run.h"
#include "testsupport/fake_ui.h"
#include "testsupport/temp_dir.h"

namespace {

// The platform's file system, with a log of the calls and chosen calls
// failing with a chosen error: every time (failing) or only the first time
// (failingOnce).
class FailingFiles : public FileSystem {
 public:
  FailingFiles() { SetFiles(this); }
  ~FailingFiles() override { SetFiles(nullptr); }

  FileError Inspect(const std::string& path, FileTarget* target) override {
    if (FileError error = Call("Inspect")) return error;
    return real.Inspect(path, target);
  }
  FileError CreateTemporaryBeside(const FileTarget& target, FileHandle* file, std::string* path) override {
    if (FileError error = Call("CreateTemporaryBeside")) return error;
    return real.CreateTemporaryBeside(target, file, path);
  }
  FileError OpenExisting(const std::string& path, FileHandle* file) override {
    if (FileError error = Call("OpenExisting")) return error;
    return real.OpenExisting(path, file);
  }
  FileError OpenInPlace(const std::string& path, FileHandle* file) override {
    if (FileError error = Call("OpenInPlace")) return error;
    return real.OpenInPlace(path, file);
  }
  FileError ReadAll(FileHandle file, std::string* bytes) override {
    if (FileError error = Call("ReadAll")) return error;
    return real.ReadAll(file, bytes);
  }
  FileError Reserve(FileHandle file, int64_t size) override {
    if (FileError error = Call("Reserve")) return error;
    return real.Reserve(file, size);
  }
  FileError Seek(FileHandle file, int64_t offset) override {
    if (FileError error = Call("Seek")) return error;
    return real.Seek(file, offset);
  }
  FileError Truncate(FileHandle file, int64_t size) override {
    if (FileError error = Call("Truncate")) return error;
    return real.Truncate(file, size);
  }
  // A failing write may have written part of its bytes, as a full disk does.
  FileError Write(FileHandle file, const char* bytes, int64_t length) override {
    if (FileError error = Call("Write")) {
      real.Write(file, bytes, length / 2);
      return error;
    }
    return real.Write(file, bytes, length);
  }
  FileError Flush(FileHandle file) override {
    if (FileError error = Call("Flush")) return error;
    return real.Flush(file);
  }
  FileError Close(FileHandle file) override {
    FileError error = Call("Close");
    real.Close(file);  // a failing close still lets the file go
    return error;
  }
  FileError Replace(const std::string& from, const std::string& to) override {
    if (FileError error = Call("Replace")) return error;
    return real.Replace(from, to);
  }
  void Remove(const std::string& path) override {
    Call("Remove");
    real.Remove(path);
  }

  std::map<std::string, FileError> failing;
  std::map<std::string, FileError> failingOnce;
  std::vector<std::string> calls;

 private:
  FileError Call(const char* name) {
    calls.push_back(name);
    auto once = failingOnce.find(name);
    if (once != failingOnce.end()) {
      FileError error = once->second;
      failingOnce.erase(once);
      return error;
    }
    auto it = failing.find(name);
    return it == failing.end() ? 0 : it->second;
  }
  FileSystem& real = PlatformFiles();
};

class FileWriter : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(WriteFileBytes(target, "old report")); }

  bool Write(const std::string& bytes) {
    return WriteBufferToFile(target.c_str(), bytes.data(), static_cast<int64_t>(bytes.size()));
  }
  // The files in the folder besides the target: temporaries left behind.
  size_t OtherFiles() {
    size_t count = 0;
    for (auto& entry : std::filesystem::directory_iterator(dir.path()))
      count += entry.path().filename() != "AB1234.bin.txt";
    return count;
  }
  void ExpectOneError(FileError error) {
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text, FileErrorText(error));
    EXPECT_EQ(ui.messages[0].caption, "Error");
    EXPECT_EQ(ui.messages[0].icon, MessageIconError);
    EXPECT_EQ(ui.messages[0].owner, nullptr);
    ui.messages.clear();
  }

  TempDir dir;
  std::string target = dir.File("AB1234.bin.txt");
  FakeUi ui;
  FailingFiles files;
};

TEST_F(FileWriter, ReplacesThroughATemporaryThatIsOnTheDiskFirst) {
  ASSERT_TRUE(Write("new report"));
  EXPECT_EQ(ReadFileBytes(target), "new report");
  EXPECT_EQ(files.calls,
            (std::vector<std::string>{"Inspect", "CreateTemporaryBeside", "Write", "Flush", "Close", "Replace"}));
  EXPECT_EQ(OtherFiles(), 0u);
  EXPECT_TRUE(ui.messages.empty());
}

// A full disk or a failing disk at any step: the old file stays as it was,
// nothing is left beside it, and the system's reason is shown.
TEST_F(FileWriter, AFailingStepKeepsTheOldFileAndShowsTheError) {
  for (const char* step : {"Write", "Flush", "Close", "Replace"}) {
    SCOPED_TRACE(step);
    files.failing = {{step, kFileDiskFull}};
    EXPECT_FALSE(Write("new report"));
    EXPECT_EQ(ReadFileBytes(target), "old report");
    EXPECT_EQ(OtherFiles(), 0u);
    ExpectOneError(kFileDiskFull);
  }
}

// A folder that takes no new file, or whose file cannot be replaced: the
// file is written in place, and only a failure of that is reported.
TEST_F(FileWriter, ARefusedTemporaryOrReplaceRewritesTheFileInPlace) {
  for (const char* step : {"CreateTemporaryBeside", "Replace"}) {
    SCOPED_TRACE(step);
    files.failing = {{step, kFileAccessDenied}};
    ASSERT_TRUE(Write(std::string("new report from ") + step));
    EXPECT_EQ(ReadFileBytes(target), std::string("new report from ") + step);
    EXPECT_EQ(OtherFiles(), 0u);
    EXPECT_TRUE(ui.messages.empty());
  }
  // In place, nothing is overwritten before the old bytes are kept and the
  // room for the new ones is there.
  const std::vector<std::string> inPlace = {"OpenInPlace", "ReadAll", "Reserve", "Seek",
                                            "Write",       "Truncate", "Flush",  "Close"};
  ASSERT_GE(files.calls.size(), inPlace.size());
  EXPECT_EQ(std::vector<std::string>(files.calls.end() - static_cast<std::ptrdiff_t>(inPlace.size()), files.calls.end()),
            inPlace);
  files.calls.clear();
  files.failing = {{"CreateTemporaryBeside", kFileAccessDenied}, {"Reserve", kFileDiskFull}};
  EXPECT_FALSE(Write("a much longer new report"));
  EXPECT_EQ(ReadFileBytes(target), "new report from Replace");
  ExpectOneError(kFileDiskFull);
  EXPECT_EQ(std::count(files.calls.begin(), files.calls.end(), "Write"), 0);

  // No file to rewrite: the refusal is what the user sees.
  std::filesystem::remove(target);
  files.failing = {{"CreateTemporaryBeside", kFileAccessDenied}};
  EXPECT_FALSE(Write("new report"));
  EXPECT_FALSE(FileExists(target));
  ExpectOneError(kFileAccessDenied);
}

// Where a rewrite in place fails after its room was reserved (a failing
// disk, say), at any step, the old bytes are written back: a failed write
// never leaves a cut-short file.
TEST_F(FileWriter, AFailedRewriteInPlacePutsTheOldBytesBack) {
  for (const char* step : {"Seek", "Write", "Truncate", "Flush"}) {
    SCOPED_TRACE(step);
    for (const std::string& content : {std::string("short"), std::string(200000, 'x')}) {
      files.failing = {{"CreateTemporaryBeside", kFileAccessDenied}};
      files.failingOnce = {{step, kFileDiskFull}};
      EXPECT_FALSE(Write(content));
      EXPECT_EQ(ReadFileBytes(target), "old report");
      ExpectOneError(kFileDiskFull);
    }
  }
  files.failing = {{"CreateTemporaryBeside", kFileAccessDenied}, {"ReadAll", kFileDiskFull}};
  EXPECT_FALSE(Write("new report"));
  EXPECT_EQ(ReadFileBytes(target), "old report");
  ExpectOneError(kFileDiskFull);
}

// Content made piece by piece is the same file as the bytes at once, also
// where it is measured first for a rewrite in place.
TEST_F(FileWriter, ContentInPiecesIsWrittenAsAWhole) {
  std::string expected;
  FileContent content = [](const FileBytesSink& write) {
    for (int i = 0; i < 5000; ++i) {
      std::string line = "line " + std::to_string(i) + "\n";
      if (!write(line.data(), line.size())) return;
    }
  };
  content([&expected](const char* bytes, size_t length) {
    expected.append(bytes, length);
    return true;
  });
  ASSERT_TRUE(WriteFileContent(target.c_str(), content));
  EXPECT_EQ(ReadFileBytes(target), expected);
  files.failing = {{"CreateTemporaryBeside", kFileAccessDenied}};
  ASSERT_TRUE(WriteFileContent(target.c_str(), content));
  EXPECT_EQ(ReadFileBytes(target), expected);
  EXPECT_TRUE(ui.messages.empty());
}

}  // namespace
