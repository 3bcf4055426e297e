// taxoscope-cli read and ports, run as a user runs them: the real binary in
// a directory of its own, the simulated device on a real pseudo-terminal or
// behind a TCP port of a real taxoscope-sim process.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "sim/device_sim.h"
#include "sim/dump_builder.h"
#include "testsupport/temp_dir.h"

namespace {

struct CliRun {
  int status;
  std::string out;
  std::string err;
};

class ReadCommand : public ::testing::Test {
 protected:
  void TearDown() override { device.Stop(); }

  void StartDevice(DeviceMode mode, long bytesPerSecond = 0) {
    options.mode = mode;
    options.bytesPerSecond = bytesPerSecond;
    if (options.image.empty()) {
      DumpBuilder builder;
      builder.ModelRecord("ZA03").Erased(4000);
      options.image = builder.bytes();
    }
    std::string error;
    ASSERT_TRUE(device.Start(options, &error)) << error;
  }

  // Runs taxoscope-cli in the test's directory; `interruptAfterMs` >= 0 sends
  // it a Ctrl-C (SIGINT) that long after the start.
  CliRun Cli(std::vector<std::string> args, int interruptAfterMs = -1) {
    std::string out = dir.File("stdout"), err = dir.File("stderr");
    args.insert(args.begin(), TAXOSCOPE_CLI);
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(&arg[0]);
    argv.push_back(nullptr);
    pid_t child = fork();
    if (child == 0) {
      int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (o < 0 || e < 0 || chdir(work.c_str()) != 0) _exit(127);
      dup2(o, STDOUT_FILENO);
      dup2(e, STDERR_FILENO);
      execv(argv[0], argv.data());
      _exit(127);
    }
    if (interruptAfterMs >= 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(interruptAfterMs));
      kill(child, SIGINT);
    }
    int raw = 0;
    waitpid(child, &raw, 0);
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadFileBytes(out), ReadFileBytes(err)};
  }

  std::vector<std::string> Read(std::vector<std::string> more = {}) {
    std::vector<std::string> args = {"read", "--port", device.path(), "--baud", "115200"};
    args.insert(args.end(), more.begin(), more.end());
    return args;
  }

  std::vector<std::string> Files() const {
    std::vector<std::string> names;
    for (auto& entry : std::filesystem::directory_iterator(work))
      names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }

  TempDir dir;
  std::string work = [this] {
    std::filesystem::create_directory(dir.File("work"));
    return dir.File("work");
  }();
  DeviceOptions options;
  PtyDevice device;
};

using Names = std::vector<std::string>;

// taxoscope-sim serve --listen 127.0.0.1:0 as a process of its own, with the
// address it prints; ended with SIGTERM.
class SimServer {
 public:
  explicit SimServer(std::vector<std::string> args) {
    args.insert(args.begin(), {TAXOSCOPE_SIM, "serve", "--listen", "127.0.0.1:0"});
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(&arg[0]);
    argv.push_back(nullptr);
    int out[2];
    if (pipe(out) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], STDOUT_FILENO);
      int null = open("/dev/null", O_WRONLY);
      dup2(null, STDERR_FILENO);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(out[1]);
    char c;
    pollfd p = {out[0], POLLIN, 0};
    while (poll(&p, 1, 5000) > 0 && read(out[0], &c, 1) == 1 && c != '\n') address_ += c;
    close(out[0]);
  }
  ~SimServer() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  const std::string& address() const { return address_; }

 private:
  pid_t pid_ = -1;
  std::string address_;
};

// A loopback port nobody listens on: bound, never listening.
class ClosedPort {
 public:
  ClosedPort() {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(fd_, reinterpret_cast<sockaddr*>(&address), length);
    getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
    address_ = "tcp://127.0.0.1:" + std::to_string(ntohs(address.sin_port));
  }
  ~ClosedPort() { close(fd_); }
  const std::string& address() const { return address_; }

 private:
  int fd_;
  std::string address_;
};

TEST_F(ReadCommand, StoresTheDumpAndItsReportInTheCurrentDirectory) {
  StartDevice(DeviceMode::Normal);
  CliRun run = Cli(Read());
  EXPECT_EQ(0, run.status);
  std::string dump = work + "/123456.bin";
  EXPECT_EQ(dump + "\n", run.out);
  // stderr is no terminal here: one final progress line, no bar.
  EXPECT_EQ("Progress indicator: 1%\nParse successfull\n", run.err);
  EXPECT_EQ(std::string(options.image.begin(), options.image.end()), ReadFileBytes(dump));
  EXPECT_EQ((Names{"123456.bin", "123456.bin.txt"}), Files());
}

TEST_F(ReadCommand, EachFailureHasItsMessageAndStatus) {
  CliRun run = Cli({"read", "--port", dir.File("no-such-port")});
  EXPECT_EQ(5, run.status);
  EXPECT_EQ("Error opening serial port.\n", run.err);

  StartDevice(DeviceMode::BadReceipt);
  run = Cli(Read());
  EXPECT_EQ(7, run.status);
  EXPECT_EQ("Bad Receipt:  0x41 0x42 \n", run.err);
  EXPECT_EQ("", run.out);
  EXPECT_TRUE(Files().empty());
}

TEST_F(ReadCommand, RefusedDumpStoresNothing) {
  StartDevice(DeviceMode::Refuse);
  CliRun run = Cli(Read());
  EXPECT_EQ(8, run.status);
  EXPECT_EQ("Progress indicator: 0%\nNo communication.\n", run.err);
  EXPECT_TRUE(Files().empty());
}

TEST_F(ReadCommand, InvalidBoundKeepsTheDumpWithoutAReport) {
  StartDevice(DeviceMode::Normal);
  CliRun run = Cli(Read({"--by-date", "31/02/2011x", "40/1/2012"}));
  EXPECT_EQ(1, run.status);
  EXPECT_EQ("Progress indicator: 1%\ntaxoscope-cli: Invalid input value \"to\": '40/1/2012'\n", run.err);
  EXPECT_EQ((Names{"123456.bin"}), Files());
}

TEST_F(ReadCommand, DumpThatCannotBeWritten) {
  std::filesystem::create_directories(work + "/123456.bin/inside");
  StartDevice(DeviceMode::Normal);
  CliRun run = Cli(Read());
  EXPECT_EQ(9, run.status);
  EXPECT_EQ("", run.out);
  EXPECT_EQ((Names{"123456.bin"}), Files());
}

TEST_F(ReadCommand, CtrlCStopsTheReadAndStoresNothing) {
  options.image = GenerateDump(GenerateOptions());
  StartDevice(DeviceMode::Normal, 11520);  // three minutes for the whole image
  ASSERT_TRUE(WriteFileBytes(work + "/123456.bin", "EARLIER"));
  auto start = std::chrono::steady_clock::now();
  CliRun run = Cli(Read(), 1500);
  auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(130, run.status);
  EXPECT_LT(took, std::chrono::seconds(5));
  // No message: only how far the transfer came.
  EXPECT_EQ(0u, run.err.rfind("Progress indicator: ", 0)) << run.err;
  EXPECT_EQ(std::string::npos, run.err.find('.')) << run.err;
  EXPECT_EQ("", run.out);
  EXPECT_EQ("EARLIER", ReadFileBytes(work + "/123456.bin"));
  EXPECT_EQ((Names{"123456.bin"}), Files());
}

// Ctrl-C while a silent device is asked who it is: stopped within the
// second a port read waits, as during the dump, and without the line's whole
// time-out or "No communication.".
TEST_F(ReadCommand, CtrlCWhileIdentifyingStopsAtOnce) {
  StartDevice(DeviceMode::Silent);
  auto start = std::chrono::steady_clock::now();
  CliRun run = Cli(Read(), 700);
  auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(130, run.status);
  EXPECT_LT(took, std::chrono::milliseconds(2500));
  EXPECT_EQ("stopped\n", run.err);
  EXPECT_EQ("", run.out);
  EXPECT_TRUE(Files().empty());
}

// Ctrl-C from the first moment: while a network port does not answer the
// connection, the read stops at once, not after the connect time.
TEST_F(ReadCommand, CtrlCWhileConnectingStopsAtOnce) {
  int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(0, bind(listener, reinterpret_cast<sockaddr*>(&address), length));
  ASSERT_EQ(0, listen(listener, 0));
  ASSERT_EQ(0, getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length));
  // One connection waits unaccepted: the queue is full, the next hangs.
  int held = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_EQ(0, connect(held, reinterpret_cast<sockaddr*>(&address), length));
  std::string port = "tcp://127.0.0.1:" + std::to_string(ntohs(address.sin_port));

  auto start = std::chrono::steady_clock::now();
  CliRun run = Cli({"read", "--port", port}, 700);
  auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(130, run.status);
  EXPECT_LT(took, std::chrono::milliseconds(2500)) << "not the connect time of 5 seconds";
  EXPECT_EQ("stopped\n", run.err);
  EXPECT_TRUE(Files().empty());
  close(held);
  close(listener);
}

// A device that dies inside a record: the read fails as a transfer does, the
// bytes are kept apart, the earlier dump stays.
TEST_F(ReadCommand, ACutImageFailsTheTransferAndIsKeptApart) {
  DumpBuilder builder;
  builder.ModelRecord("ZA03").Erased(20);
  ReportData report;
  report.dateTime = PackDateTime(11, 3, 14, 18, 30);
  report.number = 1;
  builder.Report(report).Erased(4000);
  options.image = builder.bytes();
  options.pauseAt = 52 + 200;
  options.pauseMs = 60000;
  StartDevice(DeviceMode::Pause);
  ASSERT_TRUE(WriteFileBytes(work + "/123456.bin", "EARLIER"));
  CliRun run = Cli(Read());
  EXPECT_EQ(8, run.status);
  EXPECT_EQ("Progress indicator: 1%\nThe image came cut short: it ends inside a record (type 4 at byte 52 "
            "needs 334 bytes, 200 came). The 252 bytes received are kept in " + work +
                "/123456.bin.partial; " + work + "/123456.bin is left as it was. Read the device again.\n",
            run.err);
  EXPECT_EQ("", run.out);
  EXPECT_EQ("EARLIER", ReadFileBytes(work + "/123456.bin"));
  EXPECT_EQ(std::string(options.image.begin(), options.image.begin() + 252),
            ReadFileBytes(work + "/123456.bin.partial"));
  EXPECT_EQ((Names{"123456.bin", "123456.bin.partial"}), Files());
}

TEST_F(ReadCommand, ImageCutAtTheCapIsSaidButStored) {
  StartDevice(DeviceMode::Oversize);
  CliRun run = Cli(Read());
  EXPECT_EQ(0, run.status);
  EXPECT_EQ("Progress indicator: 100%\n"
            "Parse successfull\n"
            "The device sent more than a dump can hold (2101247 bytes): the dump keeps the bytes before "
            "the block that would have passed it.\n",
            run.err);
  EXPECT_EQ(work + "/123456.bin\n", run.out);
}

// A device behind a TCP port, raw and with RFC 2217, as served by a real
// taxoscope-sim: the same dump and outcome as on a serial port.
TEST_F(ReadCommand, ReadsThroughADeviceServersPort) {
  std::vector<uint8_t> image = DumpBuilder().ModelRecord("ZA03").Erased(4000).bytes();
  std::string served = dir.File("served.bin");
  ASSERT_TRUE(WriteFileBytes(served, std::string(image.begin(), image.end())));
  SimServer raw({"--image", served});
  ASSERT_EQ(0u, raw.address().find("tcp://127.0.0.1:")) << raw.address();

  CliRun run = Cli({"read", "--port", raw.address()});
  EXPECT_EQ(0, run.status) << run.err;
  EXPECT_EQ(work + "/123456.bin\n", run.out);
  EXPECT_EQ(std::string(image.begin(), image.end()), ReadFileBytes(work + "/123456.bin"));
  EXPECT_EQ("Progress indicator: 1%\nParse successfull\n", run.err) << "no speed chosen, none unused";

  run = Cli({"read", "--port", raw.address(), "--baud", "57600"});
  EXPECT_EQ(0, run.status);
  EXPECT_EQ(0u, run.err.find("The speed chosen (57600) is not used: a tcp:// port runs at the speed set on "
                             "its device server.\n")) << run.err;

  SimServer telnet({"--image", served, "--rfc2217"});
  ASSERT_EQ(0u, telnet.address().find("rfc2217://127.0.0.1:")) << telnet.address();
  std::filesystem::remove(work + "/123456.bin");
  run = Cli({"read", "--port", telnet.address(), "--baud", "57600"});
  EXPECT_EQ(0, run.status) << run.err;
  EXPECT_EQ("Progress indicator: 1%\nParse successfull\n", run.err);
  EXPECT_EQ(std::string(image.begin(), image.end()), ReadFileBytes(work + "/123456.bin"));
}

TEST_F(ReadCommand, NetworkFailuresHaveTheStatusOfTheirSerialKin) {
  ClosedPort closed;
  CliRun run = Cli({"read", "--port", closed.address()});
  EXPECT_EQ(5, run.status);
  EXPECT_EQ("Error opening serial port.\n" + closed.address() +
                ": the connection was refused (is the device server's port right?)\n",
            run.err);

  run = Cli({"read", "--port", "tcp://no-such-host.invalid:4001"});
  EXPECT_EQ(5, run.status);
  EXPECT_EQ(0u, run.err.find("Error opening serial port.\ntcp://no-such-host.invalid:4001: the host "
                             "no-such-host.invalid is not known ("))
      << run.err;

  run = Cli({"read", "--port", "tcp://[::1:4001"});
  EXPECT_EQ(2, run.status);
  EXPECT_EQ(0u, run.err.find("taxoscope-cli read: tcp://[::1:4001: the IPv6 address has no closing ']'\n"))
      << run.err;

  // The server closes the connection half-way through the image.
  SimServer hangUp({"--mode", "hang-up"});
  run = Cli({"read", "--port", hangUp.address()});
  EXPECT_EQ(8, run.status);
  EXPECT_NE(std::string::npos, run.err.find("No communication.\n")) << run.err;
  EXPECT_TRUE(Files().empty());
}

// The device server's line overran during the transfer: the dump is kept
// and reported on, the loss said, and the status tells it apart.
TEST_F(ReadCommand, BytesLostOnTheLineAreSaidWithTheirOwnStatus) {
  std::string served = dir.File("served.bin");
  std::vector<uint8_t> image = DumpBuilder().ModelRecord("ZA03").Erased(9000).bytes();
  ASSERT_TRUE(WriteFileBytes(served, std::string(image.begin(), image.end())));
  SimServer lossy({"--image", served, "--rfc2217", "--overrun-at", "5000"});
  CliRun run = Cli({"read", "--port", lossy.address()});
  EXPECT_EQ(10, run.status);
  EXPECT_EQ("Progress indicator: 1%\nThe line lost bytes while the image came in (1 overrun): " + work +
                "/123456.bin is stored, but it is not a whole image of the fiscal memory. Read the device "
                "again.\nParse successfull\n",
            run.err);
  EXPECT_EQ((Names{"123456.bin", "123456.bin.txt"}), Files());
}

TEST_F(ReadCommand, UsageErrors) {
  EXPECT_EQ(2, Cli({"read"}).status);
  EXPECT_EQ(2, Cli({"read", "--port"}).status);
  EXPECT_EQ(2, Cli({"read", "--port", "COM1", "--baud", "4800"}).status);
  EXPECT_EQ(2, Cli({"read", "--port", "COM1", "--by-date", "1/1/2011"}).status);
  EXPECT_EQ(2, Cli({"read", "--port", "COM1", "extra"}).status);
  EXPECT_EQ(2, Cli({"ports", "extra"}).status);
  EXPECT_EQ(2, Cli({"read", "--port", "tcp://box"}).status);
  EXPECT_EQ(2, Cli({"read", "--port", "rfc2217://box:0"}).status);
  EXPECT_TRUE(Files().empty());

  // An address mistyped is named with the forms accepted, not tried as a
  // local port.
  const std::string forms =
      "the forms accepted are tcp://HOST:PORT (raw TCP) and rfc2217://HOST:PORT (Telnet with RFC 2217)\n";
  for (const char* typo : {"tcp:/box:4001", "telnet://box:23", " tcp://box:4001", "tcp://box:4001 "}) {
    CliRun run = Cli({"read", "--port", typo});
    EXPECT_EQ(2, run.status) << typo;
    EXPECT_EQ(0u, run.err.find(std::string("taxoscope-cli read: ") + typo + ": ")) << run.err;
    EXPECT_NE(std::string::npos, run.err.find(forms)) << run.err;
  }
}

TEST_F(ReadCommand, HelpListsTheExitStatuses) {
  CliRun run = Cli({"read", "--help"});
  EXPECT_EQ(0, run.status);
  for (const char* line : {"  130  stopped with Ctrl-C", "    5  the port cannot be opened",
                           "COMn is /dev/ttyS(n-1)", "tcp://HOST:PORT", "rfc2217://HOST:PORT",
                           "   10  dump stored and reported on, but the line lost bytes",
                           "the lookup of its name included", "on a network port for 4 seconds",
                           "kept as ID.bin.partial", "\"stopped\" is said"}) {
    EXPECT_NE(std::string::npos, run.out.find(line)) << line;
  }
}

TEST_F(ReadCommand, PortsListsDevicePaths) {
  CliRun run = Cli({"ports"});
  EXPECT_EQ(0, run.status);
  size_t at = 0;
  while (at < run.out.size()) {
    EXPECT_EQ(0u, run.out.compare(at, 5, "/dev/")) << run.out;
    at = run.out.find('\n', at) + 1;
  }
}

}  // namespace
