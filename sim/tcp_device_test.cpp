// The simulated device behind a TCP port, seen from a host that connects to
// it as to a serial device server.
#include <arpa/inet.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "sim/device_sim.h"
#include "sim/dump_builder.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A host connection to "tcp://HOST:PORT".
class Connection {
 public:
  explicit Connection(const std::string& address) {
    size_t hostAt = address.find("://") + 3, colon = address.rfind(':');
    std::string host = address.substr(hostAt, colon - hostAt), port = address.substr(colon + 1);
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), port.c_str(), nullptr, &found) != 0) return;
    fd_ = socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (connect(fd_, found->ai_addr, found->ai_addrlen) != 0) {
      close(fd_);
      fd_ = -1;
    }
    freeaddrinfo(found);
  }
  ~Connection() {
    if (fd_ >= 0) close(fd_);
  }
  bool ok() const { return fd_ >= 0; }
  void Send(const Bytes& bytes) { ASSERT_EQ(static_cast<ssize_t>(bytes.size()), send(fd_, bytes.data(), bytes.size(), 0)); }
  // Reads until `want` bytes are in, idleMs pass without more, or the
  // server closes (*closed).
  Bytes Read(size_t want, int idleMs, bool* closed = nullptr) {
    Bytes got;
    if (closed) *closed = false;
    std::vector<uint8_t> buffer(65536);
    while (got.size() < want) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, idleMs) <= 0) break;
      ssize_t n = recv(fd_, buffer.data(), std::min(buffer.size(), want - got.size()), 0);
      if (n <= 0) {
        if (closed) *closed = true;
        break;
      }
      got.insert(got.end(), buffer.begin(), buffer.begin() + n);
    }
    return got;
  }

 private:
  int fd_ = -1;
};

const Bytes kIdentify(kIdentifyFrame, kIdentifyFrame + 5);

DeviceOptions Small(DeviceMode mode) {
  DeviceOptions options;
  options.mode = mode;
  options.image = DumpBuilder().Erased(16).ModelRecord().PadTo(100000).Filler(3).bytes();
  return options;
}

TEST(TcpDevice, AnswersOneHostAfterAnotherOnItsLoopbackPort) {
  TcpDevice device;
  std::string error;
  DeviceOptions options = Small(DeviceMode::Normal);
  ASSERT_TRUE(device.Start(options, &error)) << error;
  EXPECT_EQ(0u, device.path().find("tcp://127.0.0.1:")) << device.path();
  for (int round = 0; round < 2; ++round) {
    Connection host(device.path());
    ASSERT_TRUE(host.ok());
    host.Send(kIdentify);
    Bytes reply = host.Read(4096, 300);
    ASSERT_GE(reply.size(), 9u);
    EXPECT_EQ(0x0E, reply[0]);
    host.Send(DumpCommandFrame("123456"));
    EXPECT_TRUE(host.Read(options.image.size(), 2000) == options.image) << round;
    EXPECT_TRUE(host.Read(1, 200).empty()) << "silence after the image";
  }
  EXPECT_EQ(2, device.DumpRequests());
  EXPECT_EQ(2, device.IdentifyRequests());
}

TEST(TcpDevice, HangUpClosesTheConnectionMidImageAndTheServer) {
  TcpDevice device;
  std::string error;
  DeviceOptions options = Small(DeviceMode::HangUp);
  ASSERT_TRUE(device.Start(options, &error)) << error;
  {
    Connection host(device.path());
    ASSERT_TRUE(host.ok());
    host.Send(DumpCommandFrame("123456"));
    bool closed = false;
    Bytes got = host.Read(options.image.size(), 3000, &closed);
    EXPECT_TRUE(closed);
    EXPECT_EQ(Bytes(options.image.begin(), options.image.begin() + static_cast<long>(options.image.size() / 2)),
              got);
  }
  for (int i = 0; i < 300 && !device.hungUp(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_TRUE(device.hungUp());
  EXPECT_FALSE(Connection(device.path()).ok()) << "nobody listens any more";
}

TEST(TcpDevice, AHostThatLeavesMidImageEndsThatTransferOnly) {
  TcpDevice device;
  std::string error;
  DeviceOptions options = Small(DeviceMode::Normal);
  options.bytesPerSecond = 20000;
  ASSERT_TRUE(device.Start(options, &error)) << error;
  {
    Connection host(device.path());
    host.Send(DumpCommandFrame("123456"));
    EXPECT_FALSE(host.Read(1000, 1000).empty());
  }
  for (int i = 0; i < 300 && device.TransfersEnded() == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(1, device.TransfersEnded());
  Connection again(device.path());
  again.Send(kIdentify);
  Bytes reply = again.Read(4096, 300);
  ASSERT_FALSE(reply.empty());
  EXPECT_EQ(0x0E, reply[0]) << "the next host hears no rest of the old image";
}

TEST(ListenTcp, AddressesAndMistakes) {
  int fd = -1;
  std::string bound, error;
  ASSERT_TRUE(ListenTcp("127.0.0.1:0", &fd, &bound, &error)) << error;
  EXPECT_EQ(0u, bound.find("127.0.0.1:"));
  EXPECT_NE("127.0.0.1:0", bound);
  close(fd);
  if (ListenTcp("[::1]:0", &fd, &bound, &error)) {  // where the machine has IPv6
    EXPECT_EQ(0u, bound.find("[::1]:")) << bound;
    close(fd);
  }
  for (const char* bad : {"127.0.0.1", "::1:4001", "[::1]4001", "host:70000", "host:x"}) {
    EXPECT_FALSE(ListenTcp(bad, &fd, &bound, &error)) << bad;
    EXPECT_NE(std::string::npos, error.find("HOST:PORT")) << error;
  }
}

}  // namespace
