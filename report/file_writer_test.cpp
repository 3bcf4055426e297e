#include <gtest/gtest.h>

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
// failing with a chosen error.
class FailingFiles : public FileSystem {
 public:
  FailingFiles() { SetFiles(this); }
  ~FailingFiles() override { SetFiles(nullptr); }

  FileError CreateTemporaryBeside(const std::string& target, FileHandle* file, std::string* path) override {
    if (FileError error = Call("CreateTemporaryBeside")) return error;
    return real.CreateTemporaryBeside(target, file, path);
  }
  FileError OpenTruncated(const std::string& path, FileHandle* file) override {
    if (FileError error = Call("OpenTruncated")) return error;
    return real.OpenTruncated(path, file);
  }
  FileError Write(FileHandle file, const char* bytes, int64_t length) override {
    if (FileError error = Call("Write")) return error;
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
  std::vector<std::string> calls;

 private:
  FileError Call(const char* name) {
    calls.push_back(name);
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
  EXPECT_EQ(files.calls, (std::vector<std::string>{"CreateTemporaryBeside", "Write", "Flush", "Close", "Replace"}));
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
  EXPECT_EQ(files.calls.back(), "Close");
  EXPECT_EQ(files.calls[files.calls.size() - 2], "Flush");

  files.failing = {{"CreateTemporaryBeside", kFileAccessDenied}, {"Write", kFileDiskFull}};
  EXPECT_FALSE(Write("longer new report"));
  ExpectOneError(kFileDiskFull);

  // No file to rewrite: the refusal is what the user sees.
  std::filesystem::remove(target);
  files.failing = {{"CreateTemporaryBeside", kFileAccessDenied}};
  EXPECT_FALSE(Write("new report"));
  EXPECT_FALSE(FileExists(target));
  ExpectOneError(kFileAccessDenied);
}

}  // namespace
