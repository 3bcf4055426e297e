#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "report/file_system.h"
#include "report/report_run.h"
#include "testsupport/fake_ui.h"
#include "testsupport/temp_dir.h"

namespace {

bool Write(const std::string& path, const std::string& bytes) {
  return WriteBufferToFile(path.c_str(), bytes.data(), static_cast<int64_t>(bytes.size()));
}

// A full name one short of MAX_PATH: its temporary fits beside it.
TEST(FileWriterWin32, ANameNearMaxPath) {
  FakeUi ui;
  TempDir dir;
  std::string folder = dir.path() + "\\";
  ASSERT_LT(folder.size() + 20, static_cast<size_t>(MAX_PATH));
  std::string target = folder + std::string(MAX_PATH - 1 - folder.size() - 4, 'n') + ".txt";
  ASSERT_EQ(target.size(), static_cast<size_t>(MAX_PATH - 1));
  ASSERT_TRUE(Write(target, "first"));
  ASSERT_TRUE(Write(target, "second"));
  EXPECT_EQ(ReadFileBytes(target), "second");
  EXPECT_TRUE(ui.messages.empty());
}

// Another program holds the file open and lets no one else at it: the write
// fails with the system's reason, and the file and folder stay as they were.
TEST(FileWriterWin32, AFileLockedByAnotherProgram) {
  FakeUi ui;
  TempDir dir;
  std::string target = dir.File("AB1234.bin.txt");
  ASSERT_TRUE(WriteFileBytes(target, "old report"));
  HANDLE lock = CreateFileA(target.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(lock, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(Write(target, "new report"));
  CloseHandle(lock);
  EXPECT_EQ(ReadFileBytes(target), "old report");
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text, FileErrorText(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(ui.messages[0].caption, "Error");
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((dir.path() + "\\*").c_str(), &found);
  int files = 0;
  if (search != INVALID_HANDLE_VALUE) {
    do files += !(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    while (FindNextFileA(search, &found));
    FindClose(search);
  }
  EXPECT_EQ(files, 1);  // no temporary left behind
}

}  // namespace
