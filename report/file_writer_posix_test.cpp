#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

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

size_t EntriesIn(const std::string& folder) {
  size_t count = 0;
  for (auto& entry : std::filesystem::directory_iterator(folder)) (void)entry, ++count;
  return count;
}

// A symbolic link is followed to the file it finally names, which is
// replaced beside itself; every link stays a link.
TEST(FileWriterPosix, ALinkIsFollowedAndStaysALink) {
  FakeUi ui;
  TempDir dir;
  ASSERT_EQ(mkdir(dir.File("data").c_str(), 0755), 0);
  ASSERT_EQ(mkdir(dir.File("links").c_str(), 0755), 0);
  const std::string file = dir.File("data/report.txt");
  ASSERT_TRUE(WriteFileBytes(file, "old"));
  ASSERT_EQ(symlink("../data/report.txt", dir.File("links/first").c_str()), 0);  // relative
  ASSERT_EQ(symlink(dir.File("links/first").c_str(), dir.File("links/second").c_str()), 0);
  ASSERT_TRUE(Write(dir.File("links/second"), "new"));
  EXPECT_EQ(ReadFileBytes(file), "new");
  struct stat status;
  ASSERT_EQ(lstat(dir.File("links/second").c_str(), &status), 0);
  EXPECT_TRUE(S_ISLNK(status.st_mode));
  ASSERT_EQ(lstat(dir.File("links/first").c_str(), &status), 0);
  EXPECT_TRUE(S_ISLNK(status.st_mode));
  EXPECT_EQ(EntriesIn(dir.File("links")), 2u);  // no temporary left beside the links
  EXPECT_EQ(EntriesIn(dir.File("data")), 1u);

  // A link to nothing yet: the file it names is made.
  ASSERT_EQ(symlink("made.txt", dir.File("data/dangling").c_str()), 0);
  ASSERT_TRUE(Write(dir.File("data/dangling"), "made"));
  EXPECT_EQ(ReadFileBytes(dir.File("data/made.txt")), "made");
  ASSERT_EQ(lstat(dir.File("data/dangling").c_str(), &status), 0);
  EXPECT_TRUE(S_ISLNK(status.st_mode));

  // A loop of links is an error of its own, and writes nothing.
  ASSERT_EQ(symlink("loop-b", dir.File("loop-a").c_str()), 0);
  ASSERT_EQ(symlink("loop-a", dir.File("loop-b").c_str()), 0);
  EXPECT_FALSE(Write(dir.File("loop-a"), "x"));
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text, std::strerror(ELOOP));
  EXPECT_TRUE(std::filesystem::is_symlink(dir.File("loop-a")));
}

// A FIFO or a device is written into, never replaced by a file; a device
// that takes nothing is a failed write.
TEST(FileWriterPosix, AFifoOrADeviceIsWrittenInto) {
  FakeUi ui;
  TempDir dir;
  const std::string fifo = dir.File("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::string received;
  std::thread reader([&]() {
    FILE* in = std::fopen(fifo.c_str(), "rb");
    if (!in) return;
    char buffer[4096];
    for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, in)) > 0;) received.append(buffer, got);
    std::fclose(in);
  });
  const std::string text(300000, 'f');
  EXPECT_TRUE(Write(fifo, text));
  reader.join();
  EXPECT_EQ(received, text);
  struct stat status;
  ASSERT_EQ(stat(fifo.c_str(), &status), 0);
  EXPECT_TRUE(S_ISFIFO(status.st_mode));

  EXPECT_TRUE(Write("/dev/null", "nothing"));
  ASSERT_EQ(stat("/dev/null", &status), 0);
  EXPECT_TRUE(S_ISCHR(status.st_mode));
  EXPECT_TRUE(ui.messages.empty());

  EXPECT_FALSE(Write("/dev/full", "more than it takes"));
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text, std::strerror(ENOSPC));
  ASSERT_EQ(stat("/dev/full", &status), 0);
  EXPECT_TRUE(S_ISCHR(status.st_mode));
}

// A replaced file keeps its permission bits, and its owner where the
// process may give it (root may).
TEST(FileWriterPosix, AReplacedFileKeepsItsModeAndOwner) {
  FakeUi ui;
  TempDir dir;
  const std::string target = dir.File("secret.txt");
  for (mode_t mode : {0600, 0640, 0604, 0444}) {
    SCOPED_TRACE(mode);
    ASSERT_TRUE(WriteFileBytes(target, "old"));
    ASSERT_EQ(chmod(target.c_str(), mode), 0);
    ASSERT_TRUE(Write(target, "new"));
    struct stat status;
    ASSERT_EQ(stat(target.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, mode);
    EXPECT_EQ(ReadFileBytes(target), "new");
    ASSERT_EQ(chmod(target.c_str(), 0644), 0);
  }
  if (geteuid() != 0) return;  // only root gives a file away
  ASSERT_EQ(chown(target.c_str(), 65534, 65534), 0);
  ASSERT_TRUE(Write(target, "newer"));
  struct stat status;
  ASSERT_EQ(stat(target.c_str(), &status), 0);
  EXPECT_EQ(status.st_uid, 65534u);
  EXPECT_EQ(status.st_gid, 65534u);
  EXPECT_EQ(status.st_mode & 0777, 0644u);
}

}  // namespace
