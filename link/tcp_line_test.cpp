// The network lines over real loopback connections: the raw TCP line keeps
// the serial port's time-outs and passes every byte; the RFC 2217 line
// negotiates the COM-PORT-OPTION, sets the line and reads the answers back;
// every way an opening fails is told.
#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "link/device_protocol.h"
#include "link/rfc2217_line.h"
#include "link/run_state.h"
#include "link/serial_port.h"
#include "link/tcp_line.h"
#include "link/test_peer.h"
#include "link/test_pty.h"
#include "sim/device_sim.h"

using namespace telnet;

namespace {

using Bytes = std::vector<uint8_t>;

class TcpLineTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(peer.ok());
    std::string why;
    line = OpenComPort(peer.Address("tcp").c_str(), 115200, &why);
    ASSERT_TRUE(line) << why;
    ASSERT_TRUE(peer.Accept());
  }

  std::string Read(int32_t count, int32_t* result = nullptr) {
    std::string buffer(static_cast<size_t>(count), '\0');
    int32_t got = line->Read(&buffer[0], count);
    if (result) *result = got;
    buffer.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return buffer;
  }

  TestPeer peer;
  std::unique_ptr<DeviceLine> line;
};

TEST_F(TcpLineTest, ReadsUnderTheSerialPortTimeOuts) {
  EXPECT_FALSE(line->SetsSpeed()) << "the device server's speed rules";
  peer.Send("ABCDEF");
  std::string got;
  long long ms = MillisecondsOf([&] { got = Read(4); });
  EXPECT_EQ("ABCD", got);
  EXPECT_LT(ms, 300);
  EXPECT_EQ("EF", Read(2));

  int32_t result = -2;
  ms = MillisecondsOf([&] { Read(10, &result); });
  EXPECT_EQ(0, result) << "a silent second";
  EXPECT_GE(ms, 950);
  EXPECT_LT(ms, 1500);

  peer.SendLater({{100, "abc"}, {200, "de"}});
  ms = MillisecondsOf([&] { got = Read(10); });
  EXPECT_EQ("abcde", got);
  EXPECT_GE(ms, 750);  // 300 ms until the last byte, then 500 ms of quiet
  EXPECT_LT(ms, 1000);
}

TEST_F(TcpLineTest, EveryByteValuePassesUnchangedBothWays) {
  std::string all;
  for (int c = 0; c < 256; ++c) all += static_cast<char>(c);
  all += "\xFF\xFB\x2C\xFF\xFF";  // what would be Telnet on an RFC 2217 line
  peer.Send(all);
  EXPECT_EQ(all, Read(static_cast<int32_t>(all.size())));
  EXPECT_EQ(static_cast<int32_t>(all.size()), line->Write(all.data(), static_cast<int32_t>(all.size())));
  EXPECT_EQ(all, peer.Receive());
}

TEST_F(TcpLineTest, InputWaitingCountsWhatCameAndDropsNothing) {
  EXPECT_EQ(0, line->InputWaiting());
  peer.Send("1234567");
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(7, line->InputWaiting());
  EXPECT_TRUE(DropQueuedInput(*line));
  EXPECT_EQ(0, line->InputWaiting());
  peer.Send("x");
  EXPECT_EQ("x", Read(1));
}

TEST_F(TcpLineTest, AServerThatClosesFailsTheReadAfterItsLastBytes) {
  peer.Send("tail");
  peer.Close();
  int32_t result = 0;
  EXPECT_EQ("tail", Read(10, &result));
  long long ms = MillisecondsOf([&] { Read(10, &result); });
  EXPECT_EQ(-1, result);
  EXPECT_LT(ms, 300);
  char area[8];
  EXPECT_LE(ReadBlock(*line, area, 8), 0);
  EXPECT_TRUE(ReadBlockFailed());
}

// Each way a network port fails to open: its own reason after the address.
TEST(OpenNetworkPort, ReasonsForEachFailure) {
  std::string why;
  // Bound but not listening: the port refuses connections.
  TestPeer refusing(0);
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(0, bind(fd, reinterpret_cast<sockaddr*>(&address), length));
  ASSERT_EQ(0, getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length));
  std::string closed = "tcp://127.0.0.1:" + std::to_string(ntohs(address.sin_port));
  EXPECT_FALSE(OpenComPort(closed.c_str(), 9600, &why));
  EXPECT_EQ(closed + ": the connection was refused (is the device server's port right?)", why);
  close(fd);

  EXPECT_FALSE(OpenComPort("rfc2217://no-such-host.invalid:4001", 9600, &why));
  EXPECT_EQ(0u, why.find("rfc2217://no-such-host.invalid:4001: the host no-such-host.invalid is not known ("))
      << why;

  EXPECT_FALSE(OpenComPort("tcp://box:99999", 9600, &why));
  EXPECT_EQ("tcp://box:99999: the port is a number from 1 to 65535 (tcp://HOST:PORT)", why);
}

// A server whose queue is full takes no more connections: the opening gives
// up after its time-out, not never.
TEST(OpenNetworkPort, AConnectionThatHangsIsGivenUp) {
  TestPeer busy(0);
  ASSERT_TRUE(busy.ok());
  busy.Hold();
  std::string why;
  std::unique_ptr<DeviceLine> line;
  long long ms = MillisecondsOf([&] { line = OpenComPort(busy.Address("tcp").c_str(), 9600, &why); });
  EXPECT_FALSE(line);
  EXPECT_EQ(busy.Address("tcp") + ": no answer within 5 seconds", why);
  EXPECT_GE(ms, TcpLine::kConnectTimeoutMs - 100);
  EXPECT_LT(ms, TcpLine::kConnectTimeoutMs + 1500);
}

// The server's side of the option as a device server plays it, with the
// values it sets in place of the ones asked.
TestPeer::Answer DeviceServer(uint32_t baudSet, uint8_t comPortAnswer = kDo) {
  return [=](const TelnetCommand& command) {
    Bytes reply;
    if (command.verb == kWill && command.option == kComPort) {
      TelnetNegotiate(comPortAnswer, kComPort, &reply);
    } else if (command.verb == kSb && command.option == kComPort) {
      Bytes answer = command.payload;
      answer[0] = static_cast<uint8_t>(answer[0] + kServerReply);
      if (command.payload[0] == kSetBaudRate) {
        answer = {kSetBaudRate + kServerReply, static_cast<uint8_t>(baudSet >> 24),
                  static_cast<uint8_t>(baudSet >> 16), static_cast<uint8_t>(baudSet >> 8),
                  static_cast<uint8_t>(baudSet)};
      }
      TelnetSubnegotiate(kComPort, answer, &reply);
    }
    return reply;
  };
}

class Rfc2217LineTest : public testing::Test {
 protected:
  // Opens the line in a thread, while this one plays the server.
  std::unique_ptr<DeviceLine> Open(TestPeer::Answer answer, uint32_t baud, std::string* why) {
    std::unique_ptr<DeviceLine> line;
    std::thread opening([&] { line = OpenComPort(peer.Address("rfc2217").c_str(), baud, why); });
    if (peer.Accept()) peer.ServeTelnet(answer);
    opening.join();
    return line;
  }

  TestPeer peer;
};

TEST_F(Rfc2217LineTest, SetsTheLineAndReadsTheAnswersBack) {
  std::vector<TelnetCommand> seen;
  std::mutex seenMutex;
  std::string why;
  TestPeer::Answer server = DeviceServer(57600);
  auto line = Open(
      [&](const TelnetCommand& command) {
        std::lock_guard<std::mutex> lock(seenMutex);
        seen.push_back(command);
        return server(command);
      },
      57600, &why);
  ASSERT_TRUE(line) << why;
  EXPECT_TRUE(line->SetsSpeed());
  std::lock_guard<std::mutex> lock(seenMutex);
  std::vector<Bytes> settings;
  for (const TelnetCommand& command : seen) {
    if (command.verb == kSb) settings.push_back(command.payload);
  }
  // 57600 baud, 8 data bits, no parity, 1 stop bit, no flow control; then
  // overrun, parity and framing errors to be told, no modem lines.
  EXPECT_EQ((std::vector<Bytes>{{1, 0x00, 0x00, 0xE1, 0x00}, {2, 8}, {3, 1}, {4, 1}, {5, 1}, {10, 0x0E}, {11, 0}}),
            settings);
}

TEST_F(Rfc2217LineTest, LineBytesTravelEscapedAndFaultNoticesAreCounted) {
  std::string why;
  auto line = Open(DeviceServer(115200), 115200, &why);
  ASSERT_TRUE(line) << why;
  const Bytes sent = {0x41, 0xFF, 0xFF, 0x0A, 0xFF};
  EXPECT_EQ(5, line->Write(sent.data(), 5));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(sent, peer.data()) << "the server took each 0xFF once";

  // 0xFF doubled, a notice of an overrun and a framing error between the
  // bytes, which is not the line's.
  Bytes wire = {'a', kIac, kIac, 'b'};
  TelnetSubnegotiate(kComPort, {kNotifyLineState + kServerReply, kLineOverrun | kLineFramingError | 0x01}, &wire);
  wire.insert(wire.end(), {kIac, kIac, 'c'});
  peer.Send(std::string(wire.begin(), wire.end()));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(5, line->InputWaiting());
  char got[16] = {};
  EXPECT_EQ(5, line->Read(got, sizeof got));
  EXPECT_EQ(std::string("a\xFF" "b\xFF" "c", 5), std::string(got, 5));
  LineFaults faults = line->TakeFaults();
  EXPECT_EQ(1u, faults.overruns);
  EXPECT_EQ(1u, faults.framing);
  EXPECT_EQ(0u, faults.parity);
  EXPECT_EQ("1 overrun, 1 framing error", faults.Describe());
  EXPECT_FALSE(line->TakeFaults().any()) << "taken once";
}

TEST_F(Rfc2217LineTest, RefusedOptionOtherSpeedAndSilenceAreEachTold) {
  std::string why;
  EXPECT_FALSE(Open(DeviceServer(115200, kDont), 115200, &why));
  EXPECT_EQ(peer.Address("rfc2217") +
                ": the device server refuses the COM-PORT-OPTION of RFC 2217, so it cannot set the line "
                "(for a raw TCP port use tcp://)",
            why);
  peer.StopServing();
  peer.Close();

  EXPECT_FALSE(Open(DeviceServer(9600), 115200, &why));
  EXPECT_EQ(peer.Address("rfc2217") + ": the device server set baud 9600, not 115200 as asked", why);
  peer.StopServing();
  peer.Close();

  // A raw port says nothing to Telnet.
  long long ms = MillisecondsOf([&] {
    EXPECT_FALSE(Open([](const TelnetCommand&) { return Bytes(); }, 115200, &why));
  });
  EXPECT_EQ(peer.Address("rfc2217") +
                ": no answer to the COM-PORT-OPTION of RFC 2217 within 3 seconds (for a raw TCP port use tcp://)",
            why);
  EXPECT_GE(ms, Rfc2217Line::kNegotiationTimeoutMs - 100);
  EXPECT_LT(ms, Rfc2217Line::kNegotiationTimeoutMs + 1500);
}

// The simulator's device server takes the settings; an image of 0xFF bytes
// only (erased memory) comes through whole.
TEST(Rfc2217Device, AnImageOfFfBytesArrivesWhole) {
  TcpDevice device(true);
  DeviceOptions options;
  options.image = Bytes(300000, 0xFF);
  options.image[0] = 0x01;  // not a refusal
  std::string error;
  ASSERT_TRUE(device.Start(options, &error)) << error;
  auto line = OpenComPort(device.path().c_str(), 38400, &error);
  ASSERT_TRUE(line) << error;
  EXPECT_EQ(38400u, device.settings().baud.load());
  EXPECT_EQ(8u, device.settings().dataBits.load());
  busyFlag = 1;
  DumpTransfer transfer;
  int32_t total = ReceiveDump(*line, nullptr, options.id.c_str(), &transfer);
  busyFlag = 0;
  ASSERT_EQ(static_cast<int32_t>(options.image.size()), total);
  auto mismatch = std::mismatch(options.image.begin(), options.image.end(), dumpBuffer,
                                [](uint8_t a, char b) { return a == static_cast<uint8_t>(b); });
  EXPECT_EQ(options.image.end(), mismatch.first) << "first difference at " << (mismatch.first - options.image.begin());
  EXPECT_FALSE(transfer.faults.any());
  EXPECT_FALSE(transfer.capReached);
}

}  // namespace
