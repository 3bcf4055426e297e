// taxoscope-cli read and ports, run as a user runs them: the real binary in
// a directory of its own, the simulated device on a real pseudo-terminal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
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

TEST_F(ReadCommand, UsageErrors) {
  EXPECT_EQ(2, Cli({"read"}).status);
  EXPECT_EQ(2, Cli({"read", "--port"}).status);
  EXPECT_EQ(2, Cli({"read", "--port", "COM1", "--baud", "4800"}).status);
  EXPECT_EQ(2, Cli({"read", "--port", "COM1", "--by-date", "1/1/2011"}).status);
  EXPECT_EQ(2, Cli({"read", "--port", "COM1", "extra"}).status);
  EXPECT_EQ(2, Cli({"ports", "extra"}).status);
  EXPECT_TRUE(Files().empty());
}

TEST_F(ReadCommand, HelpListsTheExitStatuses) {
  CliRun run = Cli({"read", "--help"});
  EXPECT_EQ(0, run.status);
  for (const char* line : {"  130  stopped with Ctrl-C", "    5  the port cannot be opened",
                           "COMn is /dev/ttyS(n-1)"}) {
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
