#include <fcntl.h>
#include <linux/capability.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <grp.h>
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

// The real thing behind a rewrite in place on a full disk: a small tmpfs,
// a folder the writer may not add to, and a file it may write, written by a
// process without privileges (root's child as nobody, or a user namespace's
// root without capabilities). Runs in a child, which has the mount to
// itself; skipped where no tmpfs can be mounted.
constexpr int kSkipped = 77;

// Writes text to fd whole (the child's verdict to its parent).
void Tell(int fd, const std::string& text) {
  for (size_t at = 0; at < text.size();) {
    ssize_t written = write(fd, text.data() + at, text.size() - at);
    if (written <= 0) return;
    at += static_cast<size_t>(written);
  }
}

bool WriteUidMap(const char* file, const std::string& map) {
  int fd = open(file, O_WRONLY);
  if (fd < 0) return false;
  bool written = write(fd, map.data(), map.size()) == static_cast<ssize_t>(map.size());
  close(fd);
  return written;
}

// Mounts a 256 KB tmpfs at folder in a mount namespace of this process's
// own (and a user namespace of its own, where it is no root); "" or why not.
std::string MountSmallTmpfs(const std::string& folder, bool* userNamespace) {
  const uid_t uid = getuid();
  const gid_t gid = getgid();
  *userNamespace = geteuid() != 0;
  if (*userNamespace) {
    if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0)
      return std::string("no user namespace: ") + std::strerror(errno);
    if (!WriteUidMap("/proc/self/setgroups", "deny") ||
        !WriteUidMap("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
        !WriteUidMap("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1"))
      return "the user namespace's ids cannot be mapped";
  } else if (unshare(CLONE_NEWNS) != 0) {
    return std::string("no mount namespace: ") + std::strerror(errno);
  }
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
    return std::string("mounts cannot be made private: ") + std::strerror(errno);
  if (mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=256k,mode=0755") != 0)
    return std::string("no tmpfs can be mounted: ") + std::strerror(errno);
  return std::string();
}

// From here on the process is an ordinary user: nobody for root, no
// capabilities for a user namespace's root.
std::string DropPrivileges(const std::string& file, bool userNamespace) {
  if (!userNamespace) {
    if (chown(file.c_str(), 65534, 65534) != 0) return std::string("chown: ") + std::strerror(errno);
    if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)
      return std::string("cannot become nobody: ") + std::strerror(errno);
    return std::string();
  }
  __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct none[2] = {};
  if (syscall(SYS_capset, &header, none) != 0) return std::string("capset: ") + std::strerror(errno);
  return std::string();
}

// The child's work: "" when every expectation held, else what failed.
std::string RewriteOnAFullTmpfs(const std::string& mountPoint, bool userNamespace) {
  const std::string folder = mountPoint + "/reports";
  const std::string target = folder + "/AB1234.bin.csv";
  const std::string old(20000, 'o');
  if (mkdir(folder.c_str(), 0755) != 0 || !WriteFileBytes(target, old)) return "setting up the folder failed";
  // Fill the disk to the last block.
  int filler = open((mountPoint + "/filler").c_str(), O_WRONLY | O_CREAT, 0644);
  const std::string block(4096, 'f');
  while (filler >= 0 && write(filler, block.data(), block.size()) > 0) {
  }
  if (filler >= 0) close(filler);
  if (chmod(folder.c_str(), 0555) != 0) return "chmod failed";
  std::string dropped = DropPrivileges(target, userNamespace);
  if (!dropped.empty()) return dropped;

  std::string failures;
  auto expect = [&failures](bool held, const std::string& what) {
    if (!held) failures += what + "; ";
  };
  FakeUi ui;
  const std::string longer(60000, 'n');
  expect(!Write(target, longer), "a write that needs more room than the disk has succeeded");
  expect(ReadFileBytes(target) == old, "the old bytes are gone");
  expect(ui.messages.size() == 1 && ui.messages[0].text == std::strerror(ENOSPC), "no full-disk error shown");
  expect(EntriesIn(folder) == 1, "something was left beside the file");
  ui.messages.clear();
  const std::string shorter(5000, 's');
  expect(Write(target, shorter), "a write that fits in the file's own room failed");
  expect(ReadFileBytes(target) == shorter, "the shorter content is not the file's");
  expect(ui.messages.empty(), "a message for a write that succeeded");
  return failures;
}

TEST(FileWriterPosix, AFullDiskKeepsTheOldBytesOfAFileRewrittenInPlace) {
  TempDir dir;
  const std::string mountPoint = dir.File("small");
  ASSERT_EQ(mkdir(mountPoint.c_str(), 0755), 0);
  ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);  // nobody must reach the mount
  int verdict[2];
  ASSERT_EQ(pipe(verdict), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(verdict[0]);
    bool userNamespace = false;
    std::string skipped = MountSmallTmpfs(mountPoint, &userNamespace);
    if (!skipped.empty()) {
      Tell(verdict[1], skipped);
      _exit(kSkipped);
    }
    std::string failures = RewriteOnAFullTmpfs(mountPoint, userNamespace);
    Tell(verdict[1], failures);
    _exit(failures.empty() ? 0 : 1);
  }
  close(verdict[1]);
  std::string said;
  char buffer[512];
  for (ssize_t got; (got = read(verdict[0], buffer, sizeof buffer)) > 0;) said.append(buffer, static_cast<size_t>(got));
  close(verdict[0]);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << said;
  if (WEXITSTATUS(status) == kSkipped) GTEST_SKIP() << said;
  EXPECT_EQ(WEXITSTATUS(status), 0) << said;
}

}  // namespace
