// The simulated device over a real pseudo-terminal, seen from a host that
// opens the slave side like a serial port.
#include "sim/device_sim.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "sim/dump_builder.h"

namespace {

using Clock = std::chrono::steady_clock;

long long MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Polls a condition the device thread makes true soon.
template <typename Condition>
bool Eventually(Condition condition, int withinMs = 3000) {
  Clock::time_point start = Clock::now();
  while (!condition()) {
    if (MillisecondsSince(start) > withinMs) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// The host end of the line: the slave opened and set raw, as a serial port.
class Host {
 public:
  explicit Host(const std::string& path) {
    fd_ = open(path.c_str(), O_RDWR | O_NOCTTY);
    termios mode;
    if (fd_ >= 0 && tcgetattr(fd_, &mode) == 0) {
      cfmakeraw(&mode);
      tcsetattr(fd_, TCSANOW, &mode);
    }
  }
  ~Host() {
    if (fd_ >= 0) close(fd_);
  }
  bool ok() const { return fd_ >= 0; }

  void Send(const std::vector<uint8_t>& bytes) {
    ASSERT_EQ(static_cast<ssize_t>(bytes.size()), write(fd_, bytes.data(), bytes.size()));
  }

  // Reads until `want` bytes are in, the line stays silent for idleMs, or it
  // fails (*lineGone). *longestGapMs: the longest wait for the next byte.
  std::vector<uint8_t> Read(size_t want, int idleMs, bool* lineGone = nullptr, long long* longestGapMs = nullptr) {
    std::vector<uint8_t> got;
    std::vector<uint8_t> buffer(65536);
    if (lineGone) *lineGone = false;
    Clock::time_point last = Clock::now();
    while (got.size() < want) {
      pollfd pfd{fd_, POLLIN, 0};
      int ready = poll(&pfd, 1, idleMs);
      if (ready == 0) break;
      ssize_t count = ready > 0 ? read(fd_, buffer.data(), std::min(buffer.size(), want - got.size())) : -1;
      if (count <= 0) {
        if (lineGone) *lineGone = true;
        break;
      }
      if (longestGapMs && !got.empty() && MillisecondsSince(last) > *longestGapMs) *longestGapMs = MillisecondsSince(last);
      last = Clock::now();
      got.insert(got.end(), buffer.begin(), buffer.begin() + count);
    }
    return got;
  }

 private:
  int fd_ = -1;
};

const std::vector<uint8_t> kIdentify(kIdentifyFrame, kIdentifyFrame + 5);

std::vector<uint8_t> SmallImage() {
  DumpBuilder builder;
  builder.Erased(16).ModelRecord().Filler(2);
  for (int i = 0; i < 30; ++i) builder.Filler(8);
  return builder.bytes();
}

DeviceOptions Options(DeviceMode mode, std::vector<uint8_t> image = SmallImage()) {
  DeviceOptions options;
  options.mode = mode;
  options.image = std::move(image);
  return options;
}

TEST(PtyDevice, IdentifyThenDumpTwiceAcrossAReopen) {
  PtyDevice device;
  std::string error;
  ASSERT_TRUE(device.Start(DeviceOptions(), &error)) << error;
  std::vector<uint8_t> image = GenerateDump(GenerateOptions());
  std::vector<uint8_t> dump = DumpCommandFrame("123456");
  {
    Host host(device.path());
    ASSERT_TRUE(host.ok()) << device.path();
    host.Send(kIdentify);
    std::vector<uint8_t> reply = host.Read(4096, 300);
    ASSERT_GE(reply.size(), 9u);
    EXPECT_EQ(0x0E, reply[0]);
    EXPECT_EQ("123456", std::string(reply.begin() + 1, reply.begin() + 7));
    EXPECT_EQ('\r', reply[reply.size() - 2]);
    EXPECT_EQ('\n', reply.back());

    host.Send(dump);
    std::vector<uint8_t> got = host.Read(image.size(), 2000);
    EXPECT_TRUE(got == image) << "got " << got.size() << " of " << image.size() << " bytes";
    EXPECT_TRUE(host.Read(1, 200).empty()) << "silence after the image";
  }
  Host again(device.path());
  ASSERT_TRUE(again.ok());
  again.Send(dump);
  EXPECT_TRUE(again.Read(image.size(), 2000) == image);
  EXPECT_EQ(2, device.DumpRequests());
  EXPECT_EQ(1, device.IdentifyRequests());
  EXPECT_EQ(kIdentify.size() + 2 * dump.size(), device.Received().size());
  EXPECT_TRUE(Eventually([&] { return device.TransfersEnded() == 2; }));
}

TEST(PtyDevice, IgnoresBadFramesAndGarbage) {
  PtyDevice device;
  DeviceOptions options = Options(DeviceMode::Normal);
  options.id = std::string("9\x0A\xAA\x00\xFF" "Z", 6);  // any bytes, frame bytes included
  std::string error;
  ASSERT_TRUE(device.Start(options, &error)) << error;
  Host host(device.path());
  std::vector<uint8_t> badChecksum = DumpCommandFrame(options.id);
  badChecksum[9] ^= 0x01;
  host.Send(badChecksum);
  host.Send(DumpCommandFrame("123456"));
  EXPECT_TRUE(host.Read(1, 300).empty());
  EXPECT_EQ(0, device.DumpRequests());

  std::vector<uint8_t> noisy{0x00, 0x0A, 0xAA, 0x13};
  std::vector<uint8_t> dump = DumpCommandFrame(options.id);
  noisy.insert(noisy.end(), dump.begin(), dump.end());
  host.Send(noisy);
  EXPECT_TRUE(host.Read(options.image.size(), 1000) == options.image);
  EXPECT_EQ(1, device.DumpRequests());
  std::vector<uint8_t> received = device.Received();
  EXPECT_EQ(badChecksum.size() + 11 + noisy.size(), received.size());
}

TEST(PtyDevice, RejectsABadIdAndAStartWhileRunning) {
  PtyDevice device;
  DeviceOptions options;
  options.id = "12345";
  std::string error;
  EXPECT_FALSE(device.Start(options, &error));
  EXPECT_NE(std::string::npos, error.find("6 bytes")) << error;
  ASSERT_TRUE(device.Start(Options(DeviceMode::Normal), &error)) << error;
  EXPECT_FALSE(device.Start(Options(DeviceMode::Normal), &error));
  EXPECT_NE(std::string::npos, error.find(device.path())) << error;
}

TEST(PtyDevice, FailingReplies) {
  std::vector<uint8_t> dump = DumpCommandFrame("123456");
  std::string error;
  {
    PtyDevice device;
    ASSERT_TRUE(device.Start(Options(DeviceMode::Silent), &error)) << error;
    Host host(device.path());
    host.Send(kIdentify);
    host.Send(dump);
    EXPECT_TRUE(host.Read(1, 300).empty());
    EXPECT_EQ(1, device.IdentifyRequests());
    EXPECT_EQ(1, device.DumpRequests());
  }
  {
    PtyDevice device;
    ASSERT_TRUE(device.Start(Options(DeviceMode::BadReceipt), &error)) << error;
    Host host(device.path());
    host.Send(kIdentify);
    EXPECT_EQ((std::vector<uint8_t>{0x15, 'A', 'B', '\r', '\n'}), host.Read(5, 1000));
  }
  {
    PtyDevice device;
    ASSERT_TRUE(device.Start(Options(DeviceMode::LongReply), &error)) << error;
    Host host(device.path());
    host.Send(kIdentify);
    std::vector<uint8_t> reply = host.Read(2003, 1000);
    ASSERT_EQ(2003u, reply.size());
    EXPECT_TRUE(host.Read(1, 100).empty());
    EXPECT_EQ(0x0E, reply[0]);
    EXPECT_EQ('\n', reply.back());
  }
  {
    PtyDevice device;
    ASSERT_TRUE(device.Start(Options(DeviceMode::Refuse), &error)) << error;
    Host host(device.path());
    host.Send(dump);
    EXPECT_EQ((std::vector<uint8_t>{0x15, 0x0A}), host.Read(2, 1000));
    EXPECT_TRUE(host.Read(1, 200).empty()) << "silence after the refusal";
  }
  {
    PtyDevice device;
    ASSERT_TRUE(device.Start(Options(DeviceMode::NoDump), &error)) << error;
    Host host(device.path());
    host.Send(kIdentify);
    EXPECT_EQ(0x0E, host.Read(4096, 200).at(0));
    host.Send(dump);
    EXPECT_TRUE(host.Read(1, 300).empty());
    EXPECT_EQ(1, device.DumpRequests());
  }
}

TEST(PtyDevice, PauseInTheMiddleKeepsTheImageWhole) {
  std::vector<uint8_t> image = DumpBuilder().Erased(16).ModelRecord().PadTo(300000).bytes();
  PtyDevice device;
  std::string error;
  ASSERT_TRUE(device.Start(Options(DeviceMode::Pause, image), &error)) << error;
  Host host(device.path());
  host.Send(DumpCommandFrame("123456"));
  long long longestGap = 0;
  std::vector<uint8_t> got = host.Read(image.size(), 2000, nullptr, &longestGap);
  EXPECT_TRUE(got == image) << got.size();
  EXPECT_GE(longestGap, 500);
}

TEST(PtyDevice, OversizeStreamsPastTheCap) {
  PtyDevice device;
  std::string error;
  ASSERT_TRUE(device.Start(Options(DeviceMode::Oversize), &error)) << error;
  Host host(device.path());
  host.Send(DumpCommandFrame("123456"));
  std::vector<uint8_t> got = host.Read(2200000, 1000);
  ASSERT_EQ(2200000u, got.size());
  EXPECT_TRUE(host.Read(1, 200).empty());
  std::vector<uint8_t> image = SmallImage();
  EXPECT_TRUE(std::equal(image.begin(), image.end(), got.begin()));
  EXPECT_EQ(0xFF, got.back());
}

TEST(PtyDevice, HangUpCutsTheImageAndDropsTheLine) {
  std::vector<uint8_t> image = DumpBuilder().Erased(16).ModelRecord().PadTo(100000).Filler(3).bytes();
  PtyDevice device;
  std::string error;
  ASSERT_TRUE(device.Start(Options(DeviceMode::HangUp, image), &error)) << error;
  Host host(device.path());
  host.Send(DumpCommandFrame("123456"));
  bool lineGone = false;
  std::vector<uint8_t> got = host.Read(image.size(), 3000, &lineGone);
  EXPECT_TRUE(lineGone);
  EXPECT_EQ(std::vector<uint8_t>(image.begin(), image.begin() + static_cast<long>(image.size() / 2)), got);
  EXPECT_TRUE(Eventually([&] { return device.hungUp(); }));
  EXPECT_EQ(1, device.TransfersEnded());
}

TEST(PtyDevice, PacesTheStreamAtTheRate) {
  DeviceOptions options = Options(DeviceMode::Normal, DumpBuilder().Erased(8000).bytes());
  options.bytesPerSecond = 20000;
  PtyDevice device;
  std::string error;
  ASSERT_TRUE(device.Start(options, &error)) << error;
  Host host(device.path());
  Clock::time_point start = Clock::now();
  host.Send(DumpCommandFrame("123456"));
  EXPECT_EQ(8000u, host.Read(8000, 1000).size());
  EXPECT_GE(MillisecondsSince(start), 350);  // 8000 bytes at 20000 per second
}

TEST(PtyDevice, StopsWhileTheHostIsNotReading) {
  PtyDevice device;
  std::string error;
  ASSERT_TRUE(device.Start(DeviceOptions(), &error)) << error;
  Host host(device.path());
  host.Send(DumpCommandFrame("123456"));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  Clock::time_point start = Clock::now();
  device.Stop();
  EXPECT_LT(MillisecondsSince(start), 2000);
}

TEST(ServeDevice, OnceEndsAfterTheHostTookTheImage) {
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(0, grantpt(master));
  ASSERT_EQ(0, unlockpt(master));
  std::string path = ptsname(master);
  int flags = fcntl(master, F_GETFL);

  DeviceSession session(Options(DeviceMode::Normal));
  volatile bool stop = false;
  int result = -100;
  std::thread device([&] { result = ServeSession(master, session, &stop, true); });
  {
    Host host(path);
    ASSERT_TRUE(host.ok());
    host.Send(DumpCommandFrame("123456"));
    EXPECT_TRUE(host.Read(session.options().image.size(), 2000) == session.options().image);
  }
  device.join();
  EXPECT_EQ(kServeOnceDone, result);
  EXPECT_EQ(1, session.TransfersEnded());
  EXPECT_EQ(flags, fcntl(master, F_GETFL)) << "the caller's flags are restored";

  const volatile bool stopNow = true;
  EXPECT_EQ(kServeStopped, ServeDevice(master, Options(DeviceMode::Normal), &stopNow));
  DeviceOptions badId = Options(DeviceMode::Normal);
  badId.id = "1234567";
  EXPECT_EQ(kServeError, ServeDevice(master, badId, &stopNow));
  close(master);
}

}  // namespace
