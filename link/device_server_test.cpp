// Reads through a real serial device server: Debian's ser2net in front of
// the simulated device's pseudo-terminal, raw and with RFC 2217. Skipped
// where ser2net is not installed (scripts/install-deps.sh all installs it).
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "link/acquire.h"
#include "link/run_state.h"
#include "res/resource.h"
#include "sim/device_sim.h"
#include "sim/dump_builder.h"
#include "testsupport/fake_ui.h"
#include "testsupport/temp_dir.h"

namespace {

std::string Ser2netProgram() {
  for (const char* path : {"/usr/sbin/ser2net", "/usr/bin/ser2net", "/usr/local/sbin/ser2net"}) {
    if (access(path, X_OK) == 0) return path;
  }
  return "";
}

int FreeLoopbackPort() {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  int port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  close(fd);
  return port;
}

bool Listening(int port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  bool up = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return up;
}

// ser2net serving one pseudo-terminal on a loopback port, its line set to
// 9600 8N1 by its own configuration; ended with SIGTERM.
class Ser2net {
 public:
  // accepter: "tcp" (raw), "telnet(rfc2217),tcp" or "telnet,tcp" (Telnet
  // without the COM-PORT-OPTION).
  Ser2net(const std::string& program, const std::string& device, const std::string& accepter,
          const TempDir& dir) {
    port_ = FreeLoopbackPort();
    std::string config = "connection: &line#  accepter: " + accepter + ",127.0.0.1," +
                         std::to_string(port_) + "#  connector: serialdev," + device + ",9600n81,local";
    std::string pidFile = dir.File("ser2net.pid"), log = dir.File("ser2net.log");
    pid_ = fork();
    if (pid_ == 0) {
      int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(out, STDOUT_FILENO);
      dup2(out, STDERR_FILENO);
      // -n: in the foreground; -u: no UUCP lock files; -P: a pid file of
      // its own, so that tests can run side by side.
      execl(program.c_str(), program.c_str(), "-n", "-u", "-P", pidFile.c_str(), "-Y", config.c_str(),
            static_cast<char*>(nullptr));
      _exit(127);
    }
    for (int i = 0; i < 300 && !up_; ++i) {
      up_ = Listening(port_);
      if (!up_) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  ~Ser2net() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  bool up() const { return up_; }
  std::string Address(const char* scheme) const {
    return std::string(scheme) + "://127.0.0.1:" + std::to_string(port_);
  }

 private:
  pid_t pid_ = -1;
  int port_ = 0;
  bool up_ = false;
};

class DeviceServerTest : public testing::Test {
 protected:
  void SetUp() override {
    program = Ser2netProgram();
    if (program.empty()) GTEST_SKIP() << "ser2net is not installed (scripts/install-deps.sh all)";
    char cwd[4096];
    ASSERT_NE(nullptr, getcwd(cwd, sizeof cwd));
    savedCwd_ = cwd;
    ASSERT_EQ(0, chdir(dir.path().c_str()));
    ui.checked[IDC_ALL_RECORDS] = true;
    busyFlag = 0;
    cancelFlag = 0;
    speedNoteShown = true;
  }
  void TearDown() override {
    device.Stop();
    if (!savedCwd_.empty()) {
      ASSERT_EQ(0, chdir(savedCwd_.c_str()));
    }
  }

  void StartDevice(const std::vector<uint8_t>& image) {
    DeviceOptions options;
    options.image = image;
    std::string error;
    ASSERT_TRUE(device.Start(options, &error)) << error;
  }

  // The Read button on `port` at the speed list's entry `speedIndex`; the
  // speed of the device's line is noted while the image comes in.
  void Read(const std::string& port, int speedIndex) {
    ui.text[IDC_PORT] = port;
    ui.selected[IDC_SPEED] = speedIndex;
    ui.messages.clear();
    speedDuringTransfer = 0;
    ui.onDispatch = [&](int) {
      if (ui.shown[IDC_PROGRESS] && speedDuringTransfer == 0) speedDuringTransfer = device.LineSpeed();
    };
    busyFlag = 1;
    AcquireDump(nullptr);
    busyFlag = 0;
  }

  std::string Stored() const { return ReadFileBytes(dir.File("123456.bin")); }

  std::string program;
  TempDir dir;
  FakeUi ui;
  PtyDevice device;
  uint32_t speedDuringTransfer = 0;

 private:
  std::string savedCwd_;
};

std::string AsString(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

// Erased memory is 0xFF from end to end: the byte Telnet escapes.
std::vector<uint8_t> ErasedImage() {
  std::vector<uint8_t> image(150000, 0xFF);
  return image;
}

TEST_F(DeviceServerTest, RawPortPassesTheImageByteForByteAtTheServersSpeed) {
  std::vector<uint8_t> image = DumpBuilder().ModelRecord("ZA03").Erased(3000).bytes();
  StartDevice(image);
  Ser2net server(program, device.path(), "tcp", dir);
  ASSERT_TRUE(server.up());
  Read(server.Address("tcp"), 4);
  EXPECT_EQ(AcquireDone, LastAcquireOutcome());
  EXPECT_EQ(AsString(image), Stored());
  EXPECT_EQ(9600u, speedDuringTransfer) << "a raw port runs as the server is set";

  std::vector<uint8_t> erased = ErasedImage();
  device.Stop();
  StartDevice(erased);
  Ser2net again(program, device.path(), "tcp", dir);
  ASSERT_TRUE(again.up());
  Read(again.Address("tcp"), 4);
  EXPECT_EQ(AcquireDone, LastAcquireOutcome());
  EXPECT_TRUE(AsString(erased) == Stored()) << "the 0xFF image arrived whole";
}

TEST_F(DeviceServerTest, Rfc2217SetsTheSpeedAskedAndPassesEvery0xFF) {
  std::vector<uint8_t> erased = ErasedImage();
  StartDevice(erased);
  Ser2net server(program, device.path(), "telnet(rfc2217),tcp", dir);
  ASSERT_TRUE(server.up());
  Read(server.Address("rfc2217"), 4);
  EXPECT_EQ(AcquireDone, LastAcquireOutcome()) << ::testing::PrintToString(ui.messages.size());
  EXPECT_TRUE(AsString(erased) == Stored()) << "every 0xFF came once, none doubled, none lost";
  EXPECT_EQ(115200u, speedDuringTransfer);
  EXPECT_FALSE(LastAcquireTransfer().faults.any());

  Read(server.Address("rfc2217"), 1);
  EXPECT_EQ(AcquireDone, LastAcquireOutcome());
  EXPECT_EQ(19200u, speedDuringTransfer);
}

TEST_F(DeviceServerTest, ATelnetPortWithoutTheOptionIsRefusedClearly) {
  StartDevice(ErasedImage());
  Ser2net server(program, device.path(), "telnet,tcp", dir);
  ASSERT_TRUE(server.up());
  Read(server.Address("rfc2217"), 4);
  EXPECT_EQ(AcquirePortNotOpened, LastAcquireOutcome());
  ASSERT_EQ(1u, ui.messages.size());
  EXPECT_EQ("Error opening serial port.\n" + server.Address("rfc2217") +
                ": the device server refuses the COM-PORT-OPTION of RFC 2217, so it cannot set the line "
                "(for a raw TCP port use tcp://)",
            ui.messages[0].text);
  EXPECT_EQ(0, device.IdentifyRequests()) << "nothing reached the device";
}

}  // namespace
