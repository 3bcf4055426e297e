// The taxoscope-sim program itself, run as a child process.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "sim/device_session.h"
#include "sim/dump_builder.h"
#include "taxoscope_version.h"
#include "testsupport/temp_dir.h"

namespace {

// One run of the program: stdout through a pipe, stderr into a file.
class Child {
 public:
  Child(const TempDir& dir, const std::vector<std::string>& args) : errPath_(dir.File("stderr.txt")) {
    int out[2];
    if (pipe(out) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], STDOUT_FILENO);
      int err = open(errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (err >= 0) dup2(err, STDERR_FILENO);
      std::vector<char*> argv{const_cast<char*>(TAXOSCOPE_SIM_PROGRAM)};
      for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(out[1]);
    out_ = out[0];
  }
  ~Child() {
    if (pid_ > 0 && !reaped_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
  }

  // The next stdout line (without its LF), "" after timeoutMs.
  std::string ReadLine(int timeoutMs = 5000) {
    std::string line;
    char c;
    while (true) {
      pollfd pfd{out_, POLLIN, 0};
      if (poll(&pfd, 1, timeoutMs) <= 0 || read(out_, &c, 1) != 1 || c == '\n') return line;
      line += c;
    }
  }
  // The exit status, or -1 if it has not ended within timeoutMs.
  int Wait(int timeoutMs = 10000) {
    for (int waited = 0; waited <= timeoutMs; waited += 10) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        reaped_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
  }
  void Signal(int number) { kill(pid_, number); }
  std::string Stdout() {
    std::string all, line;
    char buffer[4096];
    ssize_t count;
    while ((count = read(out_, buffer, sizeof(buffer))) > 0) all.append(buffer, static_cast<size_t>(count));
    return all;
  }
  std::string Stderr() const { return ReadFileBytes(errPath_); }

 private:
  std::string errPath_;
  pid_t pid_ = -1;
  int out_ = -1;
  bool reaped_ = false;
};

struct Result {
  int status;
  std::string out, err;
};

Result RunSim(const std::vector<std::string>& args) {
  TempDir dir;
  Child child(dir, args);
  int status = child.Wait();
  return {status, child.Stdout(), child.Stderr()};
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// A host on a serial path: open, raw, send, read a given number of bytes.
std::vector<uint8_t> Exchange(const std::string& path, const std::vector<uint8_t>& command, size_t want) {
  std::vector<uint8_t> got;
  int fd = open(path.c_str(), O_RDWR | O_NOCTTY);
  if (fd < 0) return got;
  termios mode;
  tcgetattr(fd, &mode);
  cfmakeraw(&mode);
  tcsetattr(fd, TCSANOW, &mode);
  tcflush(fd, TCIFLUSH);  // a host drops stale input before a command
  if (write(fd, command.data(), command.size()) == static_cast<ssize_t>(command.size())) {
    std::vector<uint8_t> buffer(65536);
    while (got.size() < want) {
      pollfd pfd{fd, POLLIN, 0};
      if (poll(&pfd, 1, 2000) <= 0) break;
      ssize_t count = read(fd, buffer.data(), std::min(buffer.size(), want - got.size()));
      if (count <= 0) break;
      got.insert(got.end(), buffer.begin(), buffer.begin() + count);
    }
  }
  close(fd);
  return got;
}

TEST(SimProgram, HelpAndUnknownCommands) {
  Result help = RunSim({"--help"});
  EXPECT_EQ(0, help.status);
  EXPECT_TRUE(Contains(help.out, "generate") && Contains(help.out, "serve")) << help.out;
  Result none = RunSim({});
  EXPECT_EQ(2, none.status);
  Result unknown = RunSim({"frobnicate"});
  EXPECT_EQ(2, unknown.status);
  EXPECT_TRUE(Contains(unknown.err, "unknown command 'frobnicate'")) << unknown.err;
  Result serveHelp = RunSim({"serve", "--help"});
  EXPECT_EQ(0, serveHelp.status);
  EXPECT_TRUE(Contains(serveHelp.out, "hang-up") && Contains(serveHelp.out, "--link")) << serveHelp.out;
  Result version = RunSim({"--version"});
  EXPECT_EQ(0, version.status);
  EXPECT_EQ("taxoscope-sim " TAXOSCOPE_VERSION "\n", version.out);
}

TEST(SimProgram, GenerateWritesTheImageOfTheSeed) {
  TempDir dir;
  std::string out = dir.File("shop.bin");
  Result result = RunSim({"generate", "--out", out, "--seed=5", "--variant", "2", "--reports", "50"});
  ASSERT_EQ(0, result.status) << result.err;
  GenerateOptions options;
  options.seed = 5;
  options.variant = 2;
  options.reports = 50;
  std::vector<uint8_t> image = GenerateDump(options);
  EXPECT_EQ(std::string(image.begin(), image.end()), ReadFileBytes(out));
  EXPECT_TRUE(Contains(result.out, "131071 bytes") && Contains(result.out, "50 reports")) << result.out;

  Result large = RunSim({"generate", "--out", out, "--seed=5", "--reports", "50", "--rates", "20,9.00,7.5", "--large"});
  ASSERT_EQ(0, large.status) << large.err;
  options.variant = 3;
  options.rates = {2000, 900, 750};
  options.largeAmounts = true;
  image = GenerateDump(options);
  EXPECT_EQ(std::string(image.begin(), image.end()), ReadFileBytes(out));

  Result clamped = RunSim({"generate", "--out", out, "--variant", "2", "--reports", "65535"});
  EXPECT_EQ(0, clamped.status);
  EXPECT_TRUE(Contains(clamped.err, "of the 65535 reports fit")) << clamped.err;
}

TEST(SimProgram, GenerateRejectsBadUsageAndReportsFileErrors) {
  const std::vector<std::vector<std::string>> bad = {
      {"generate"},
      {"generate", "--out"},
      {"generate", "--out", "x.bin", "--variant", "4"},
      {"generate", "--out", "x.bin", "--reports", "12a"},
      {"generate", "--out", "x.bin", "--seed", "-1"},
      {"generate", "--out", "x.bin", "--seed", "4294967296"},
      {"generate", "--out", "x.bin", "--colour", "red"},
      {"generate", "--out", "x.bin", "stray"},
      {"generate", "--out", "x.bin", "--rates", "20.00,,9.00"},
      {"generate", "--out", "x.bin", "--rates", "655.35"},
      {"generate", "--out", "x.bin", "--large=yes"},
  };
  for (const std::vector<std::string>& args : bad) {
    Result result = RunSim(args);
    EXPECT_EQ(2, result.status) << args.back();
    EXPECT_TRUE(Contains(result.err, "taxoscope-sim generate: ")) << result.err;
  }
  EXPECT_FALSE(FileExists("x.bin"));

  TempDir dir;
  std::string missing = dir.File("no-such-dir/shop.bin");
  Result result = RunSim({"generate", "--out", missing});
  EXPECT_EQ(1, result.status);
  EXPECT_TRUE(Contains(result.err, missing) && Contains(result.err, "No such file or directory")) << result.err;
}

TEST(SimProgram, ServeOnceThroughALink) {
  TempDir dir;
  std::string link = dir.File("com5");
  Child child(dir, {"serve", "--seed", "3", "--id", "ABCDEF", "--once", "--link", link});
  std::string path = child.ReadLine();
  ASSERT_EQ(0u, path.find("/dev/pts/")) << path << child.Stderr();
  char target[256] = {};
  ASSERT_GT(readlink(link.c_str(), target, sizeof(target) - 1), 0);
  EXPECT_EQ(path, target);

  std::vector<uint8_t> identify(kIdentifyFrame, kIdentifyFrame + 5);
  std::vector<uint8_t> reply = Exchange(link, identify, 7);
  EXPECT_EQ((std::vector<uint8_t>{0x0E, 'A', 'B', 'C', 'D', 'E', 'F'}), reply);
  GenerateOptions options;
  options.seed = 3;
  std::vector<uint8_t> image = GenerateDump(options);
  EXPECT_TRUE(Exchange(link, DumpCommandFrame("ABCDEF"), image.size()) == image);
  EXPECT_EQ(0, child.Wait());
  struct stat info;
  EXPECT_NE(0, lstat(link.c_str(), &info)) << "the link is removed at the end";
}

// A host on a TCP address: connect, send, read a given number of bytes,
// close.
std::vector<uint8_t> ExchangeTcp(const std::string& address, const std::vector<uint8_t>& command,
                                 size_t want) {
  std::vector<uint8_t> got;
  size_t colon = address.rfind(':');
  sockaddr_in to = {};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(std::stoi(address.substr(colon + 1))));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0 &&
      send(fd, command.data(), command.size(), 0) == static_cast<ssize_t>(command.size())) {
    std::vector<uint8_t> buffer(65536);
    while (got.size() < want) {
      pollfd pfd{fd, POLLIN, 0};
      if (poll(&pfd, 1, 2000) <= 0) break;
      ssize_t count = recv(fd, buffer.data(), std::min(buffer.size(), want - got.size()), 0);
      if (count <= 0) break;
      got.insert(got.end(), buffer.begin(), buffer.begin() + count);
    }
  }
  close(fd);
  return got;
}

TEST(SimProgram, ServeOnceOnATcpPort) {
  TempDir dir;
  Child child(dir, {"serve", "--seed", "3", "--id", "ABCDEF", "--once", "--listen", "127.0.0.1:0"});
  std::string address = child.ReadLine();
  ASSERT_EQ(0u, address.find("tcp://127.0.0.1:")) << address << child.Stderr();
  EXPECT_NE("tcp://127.0.0.1:0", address);

  std::vector<uint8_t> identify(kIdentifyFrame, kIdentifyFrame + 5);
  EXPECT_EQ((std::vector<uint8_t>{0x0E, 'A', 'B', 'C', 'D', 'E', 'F'}), ExchangeTcp(address, identify, 7));
  GenerateOptions options;
  options.seed = 3;
  std::vector<uint8_t> image = GenerateDump(options);
  EXPECT_TRUE(ExchangeTcp(address, DumpCommandFrame("ABCDEF"), image.size()) == image);
  EXPECT_EQ(0, child.Wait());
  EXPECT_TRUE(Contains(child.Stderr(), "1 identify and 1 dump commands received")) << child.Stderr();
}

TEST(SimProgram, ServeOnAnExistingTtyEndsOnSigterm) {
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(0, grantpt(master));
  ASSERT_EQ(0, unlockpt(master));
  std::string slave = ptsname(master);
  TempDir dir;
  Child child(dir, {"serve", "--tty", slave, "--mode", "refuse"});
  EXPECT_EQ(slave, child.ReadLine());
  std::vector<uint8_t> dump = DumpCommandFrame("123456");
  ASSERT_EQ(11, write(master, dump.data(), dump.size()));
  uint8_t reply[2] = {};
  pollfd pfd{master, POLLIN, 0};
  ASSERT_EQ(1, poll(&pfd, 1, 3000));
  ASSERT_EQ(2, read(master, reply, 2));
  EXPECT_EQ(0x15, reply[0]);
  child.Signal(SIGTERM);
  EXPECT_EQ(0, child.Wait());
  close(master);
}

TEST(SimProgram, ServeRejectsBadUsageAndBadFiles) {
  TempDir dir;
  const std::vector<std::vector<std::string>> bad = {
      {"serve", "--id", "12345"},
      {"serve", "--mode", "sleepy"},
      {"serve", "--rate", "fast"},
      {"serve", "--once=yes"},
      {"serve", "--image", "a.bin", "--seed", "2"},
      {"serve", "--rfc2217"},
      {"serve", "--listen", "127.0.0.1:0", "--link", "com5"},
      {"serve", "--listen", "127.0.0.1:0", "--tty", "/dev/null"},
      {"serve", "--listen"},
  };
  for (const std::vector<std::string>& args : bad) {
    Result result = RunSim(args);
    EXPECT_EQ(2, result.status) << args[1];
    EXPECT_TRUE(Contains(result.err, "taxoscope-sim serve: ")) << result.err;
  }
  Result missing = RunSim({"serve", "--image", dir.File("none.bin")});
  EXPECT_EQ(1, missing.status);
  EXPECT_TRUE(Contains(missing.err, dir.File("none.bin"))) << missing.err;

  ASSERT_TRUE(WriteFileBytes(dir.File("empty.bin"), ""));
  Result empty = RunSim({"serve", "--image", dir.File("empty.bin")});
  EXPECT_EQ(1, empty.status);
  EXPECT_TRUE(Contains(empty.err, "empty")) << empty.err;

  ASSERT_TRUE(WriteFileBytes(dir.File("notes.txt"), "keep me"));
  Result clobber = RunSim({"serve", "--link", dir.File("notes.txt")});
  EXPECT_EQ(1, clobber.status);
  EXPECT_TRUE(Contains(clobber.err, "not a symbolic link")) << clobber.err;
  EXPECT_EQ("keep me", ReadFileBytes(dir.File("notes.txt")));

  Result notAnAddress = RunSim({"serve", "--listen", "127.0.0.1"});
  EXPECT_EQ(1, notAnAddress.status);
  EXPECT_TRUE(Contains(notAnAddress.err, "is not HOST:PORT")) << notAnAddress.err;

  Result notTty = RunSim({"serve", "--tty", dir.File("notes.txt")});
  EXPECT_EQ(1, notTty.status);
  EXPECT_TRUE(Contains(notTty.err, "not a terminal")) << notTty.err;
}

}  // namespace
