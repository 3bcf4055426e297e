// Reads through a real serial device server: Debian's ser2net in front of
// the simulated device's pseudo-terminal, raw and with RFC 2217. Skipped
// where ser2net is not installed (scripts/install-deps.sh all installs it).
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "link/acquire.h"
#include "link/run_state.h"
#include "link/serial_port.h"
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

// Two pseudo-terminals joined by socat, as a serial cable joins two ports:
// the device on one end, the device server on the other. Neither end hangs
// up when the program on the other dies, as a real line does not.
class NullModem {
 public:
  // `name` tells the cable's ends apart from those of an earlier one.
  NullModem(const TempDir& dir, const std::string& name)
      : device_(dir.File(name + "-device-end")), server_(dir.File(name + "-server-end")) {
    if (access("/usr/bin/socat", X_OK) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      int null = open("/dev/null", O_WRONLY);
      dup2(null, STDOUT_FILENO);
      dup2(null, STDERR_FILENO);
      std::string a = "pty,raw,echo=0,link=" + device_, b = "pty,raw,echo=0,link=" + server_;
      execl("/usr/bin/socat", "socat", a.c_str(), b.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    for (int i = 0; i < 300 && !up(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ~NullModem() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  bool up() const { return access(device_.c_str(), F_OK) == 0 && access(server_.c_str(), F_OK) == 0; }
  const std::string& deviceEnd() const { return device_; }
  const std::string& serverEnd() const { return server_; }

 private:
  std::string device_, server_;
  pid_t pid_ = -1;
};

// taxoscope-sim serving an image on a tty, as a process of its own, so that
// it can be killed like a register that loses its power. Up once it has
// named its line.
class DeviceProcess {
 public:
  DeviceProcess(const std::string& image, const std::string& tty) {
    int out[2];
    if (pipe(out) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], STDOUT_FILENO);
      int null = open("/dev/null", O_WRONLY);
      dup2(null, STDERR_FILENO);
      execl(TAXOSCOPE_SIM, TAXOSCOPE_SIM, "serve", "--image", image.c_str(), "--tty", tty.c_str(), "--rate",
            "11520", static_cast<char*>(nullptr));
      _exit(127);
    }
    close(out[1]);
    char c = 0;
    pollfd p = {out[0], POLLIN, 0};
    while (poll(&p, 1, 5000) > 0 && read(out[0], &c, 1) == 1 && c != '\n') {
    }
    up_ = c == '\n';
    close(out[0]);
  }
  bool up() const { return up_; }
  ~DeviceProcess() { Kill(); }
  void Kill() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  bool up_ = false;
};

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

  // Another image under the same id is no memory that grew: it would not
  // replace the dump.
  std::filesystem::remove(dir.File("123456.bin"));
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

// A port of ser2net's telnet accepter read as tcp://: its opening
// negotiation would be taken for the device's bytes, and every 0xFF of the
// image would come doubled. The port is refused and named instead.
TEST_F(DeviceServerTest, ATelnetPortReadAsRawIsRefused) {
  StartDevice(ErasedImage());
  for (const char* accepter : {"telnet,tcp", "telnet(rfc2217),tcp"}) {
    Ser2net server(program, device.path(), accepter, dir);
    ASSERT_TRUE(server.up());
    Read(server.Address("tcp"), 4);
    EXPECT_EQ(AcquirePortNotOpened, LastAcquireOutcome()) << accepter;
    ASSERT_EQ(1u, ui.messages.size()) << accepter;
    EXPECT_EQ("Error opening serial port.\n" + server.Address("tcp") +
                  ": this port speaks Telnet: use rfc2217://HOST:PORT",
              ui.messages[0].text);
  }
  EXPECT_EQ(0, device.IdentifyRequests()) << "nothing reached the device";
  EXPECT_FALSE(FileExists(dir.File("123456.bin")));
}

// A port that another program holds: ser2net says so in a line of text and
// closes, on a raw port and after its Telnet alike.
TEST_F(DeviceServerTest, APortInUseIsSaidInWords) {
  StartDevice(ErasedImage());
  const std::pair<const char*, const char*> kinds[] = {{"tcp", "tcp"}, {"telnet(rfc2217),tcp", "rfc2217"}};
  for (const auto& kind : kinds) {
    Ser2net server(program, device.path(), kind.first, dir);
    ASSERT_TRUE(server.up());
    std::string address = server.Address(kind.second);
    // Another program's line, open (negotiated, quiet) before the read.
    std::string why;
    std::unique_ptr<DeviceLine> holder = OpenComPort(address.c_str(), 115200, &why);
    ASSERT_TRUE(holder) << why;
    Read(address, 4);
    holder.reset();
    EXPECT_EQ(AcquirePortNotOpened, LastAcquireOutcome()) << kind.first;
    ASSERT_EQ(1u, ui.messages.size());
    EXPECT_EQ("Error opening serial port.\n" + address +
                  ": the device server refused the connection: \"Port already in use\"",
              ui.messages[0].text);
  }
}

// The register loses its power in the middle of its image, behind a device
// server that keeps the connection: the silence ends the image, and the cut
// image is kept apart; the whole dump read before stays, raw and with RFC
// 2217 alike.
TEST_F(DeviceServerTest, ARegisterKilledInMidImageNeverReplacesItsDump) {
  GenerateOptions generate;
  generate.variant = 2;
  std::vector<uint8_t> image = GenerateDump(generate);
  std::string imageFile = dir.File("image.bin");
  ASSERT_TRUE(WriteFileBytes(imageFile, AsString(image)));
  ASSERT_TRUE(WriteFileBytes(dir.File("123456.bin"), AsString(image)));
  const std::pair<const char*, const char*> kinds[] = {{"tcp", "tcp"}, {"telnet(rfc2217),tcp", "rfc2217"}};
  for (const auto& kind : kinds) {
    const char* accepter = kind.first;
    NullModem cable(dir, kind.second);
    if (!cable.up()) GTEST_SKIP() << "socat is not installed (scripts/install-deps.sh all)";
    DeviceProcess register_(imageFile, cable.deviceEnd());
    ASSERT_TRUE(register_.up());
    Ser2net server(program, cable.serverEnd(), accepter, dir);
    ASSERT_TRUE(server.up());
    ui.text[IDC_PORT] = server.Address(kind.second);
    ui.selected[IDC_SPEED] = 4;
    ui.messages.clear();
    ui.progress.clear();
    // Killed once the image flows.
    ui.onDispatch = [&](int) {
      if (!ui.progress.empty()) register_.Kill();
    };
    busyFlag = 1;
    AcquireDump(nullptr);
    busyFlag = 0;
    ui.onDispatch = nullptr;
    EXPECT_EQ(AcquireImageCut, LastAcquireOutcome()) << accepter;
    ASSERT_EQ(1u, ui.messages.size()) << accepter;
    EXPECT_EQ(0u, ui.messages[0].text.find("The image came cut short: ")) << ui.messages[0].text;
    EXPECT_TRUE(AsString(image) == Stored()) << "the dump read before stays byte for byte";
    std::string partial = ReadFileBytes(dir.File("123456.bin.partial"));
    EXPECT_GT(partial.size(), 0u);
    EXPECT_LT(partial.size(), image.size());
    EXPECT_TRUE(AsString(image).compare(0, partial.size(), partial) == 0) << "what came is the image's start";
  }
}

// A read stopped in the middle, and started again at once: the device still
// sends the rest of its image through the server, which the new read lets
// pass before it asks anything, instead of taking it for the answer.
TEST_F(DeviceServerTest, AReadStartedAgainAfterAStopSucceeds) {
  std::vector<uint8_t> image = DumpBuilder().ModelRecord("ZA03").Erased(20000).bytes();
  DeviceOptions options;
  options.image = image;
  options.bytesPerSecond = 11520;
  std::string error;
  ASSERT_TRUE(device.Start(options, &error)) << error;
  Ser2net server(program, device.path(), "tcp", dir);
  ASSERT_TRUE(server.up());
  ui.onDispatch = [&](int) {
    if (!ui.progress.empty() && busyFlag) {
      busyFlag = 0;  // STOP
      cancelFlag = 1;
    }
  };
  ui.text[IDC_PORT] = server.Address("tcp");
  busyFlag = 1;
  AcquireDump(nullptr);
  busyFlag = 0;
  ASSERT_EQ(AcquireStopped, LastAcquireOutcome());
  ui.onDispatch = nullptr;
  Read(server.Address("tcp"), 4);
  EXPECT_EQ(AcquireDone, LastAcquireOutcome()) << ::testing::PrintToString(ui.messages.size());
  EXPECT_TRUE(AsString(image) == Stored());
}

}  // namespace
