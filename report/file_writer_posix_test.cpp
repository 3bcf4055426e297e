#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

#include "report/report_run.h"
#include "testsupport/fake_ui.h"
#include "testsupport/temp_dir.h"

namespace {

bool Write(const std::string& path, const std::string& bytes) {
  return WriteBufferToFile(path.c_str(), bytes.data(), static_cast<int64_t>(bytes.size()));
}

// A name of 255 bytes, the most a folder entry holds: its temporary fits too.
TEST(FileWriterPosix, TheLongestNameAFolderTakes) {
  FakeUi ui;
  TempDir dir;
  std::string target = dir.File(std::string(251, 'n') + ".txt");
  ASSERT_TRUE(Write(target, "first"));
  ASSERT_TRUE(Write(target, "second"));
  EXPECT_EQ(ReadFileBytes(target), "second");
  EXPECT_TRUE(ui.messages.empty());
}

// The real thing behind the refused temporary: a folder without write
// permission holding a writable file. Root writes anywhere, so not as root.
TEST(FileWriterPosix, AFolderWithoutWritePermissionGetsItsFileRewritten) {
  if (geteuid() == 0) GTEST_SKIP() << "root ignores folder permissions";
  FakeUi ui;
  TempDir dir;
  std::string target = dir.File("AB1234.bin.txt");
  ASSERT_TRUE(WriteFileBytes(target, "old report"));
  ASSERT_EQ(0, chmod(dir.path().c_str(), 0555));
  bool written = Write(target, "new report");
  chmod(dir.path().c_str(), 0755);
  EXPECT_TRUE(written);
  EXPECT_EQ(ReadFileBytes(target), "new report");
  EXPECT_TRUE(ui.messages.empty());
}

}  // namespace
