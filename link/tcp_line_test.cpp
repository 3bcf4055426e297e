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

// What a device server says on a new connection decides whether the port
// opens: each case is played by a peer that accepts and then speaks.
class NetworkOpening : public testing::Test {
 protected:
  // Opens `scheme`://peer in a thread while this one accepts and says
  // `said`, then closes when `close` is set.
  std::unique_ptr<DeviceLine> OpenWhileSaying(const char* scheme, const std::string& said, bool close) {
    std::unique_ptr<DeviceLine> line;
    std::thread opening([&] { line = OpenComPort(peer.Address(scheme).c_str(), 9600, &why); });
    if (peer.Accept()) {
      peer.Send(said);
      if (close) peer.Close();
    }
    opening.join();
    return line;
  }

  TestPeer peer;
  std::string why;
};

// ser2net's telnet accepter and Telnet-mode boxes open with negotiation: read
// as raw, it would be dropped as stale input and every 0xFF of the image
// would then come doubled.
TEST_F(NetworkOpening, ARawPortThatSpeaksTelnetIsRefusedAndNamed) {
  const std::string negotiation = "\xFF\xFB\x03\xFF\xFD\x03\xFF\xFB\x01\xFF\xFE\x01\xFF\xFD\x00\xFF\xFB\x00";
  EXPECT_FALSE(OpenWhileSaying("tcp", negotiation, false));
  EXPECT_EQ(peer.Address("tcp") + ": this port speaks Telnet: use rfc2217://HOST:PORT", why);
  EXPECT_EQ("", peer.Receive(100)) << "nothing was sent to the device";
}

TEST_F(NetworkOpening, AServerThatRefusesOrClosesIsSaidInWords) {
  EXPECT_FALSE(OpenWhileSaying("tcp", "Port already in use\r\n", true));
  EXPECT_EQ(peer.Address("tcp") + ": the device server refused the connection: \"Port already in use\"", why);
  EXPECT_FALSE(OpenWhileSaying("tcp", "", true));
  EXPECT_EQ(peer.Address("tcp") +
                ": the device server closed the connection at once (is its port in use by another program?)",
            why);
  EXPECT_FALSE(OpenWhileSaying("tcp", std::string("\x01\x80\x00", 3), true));
  EXPECT_EQ(peer.Address("tcp") + ": the device server closed the connection", why);
}

// A device still sending from a read that was stopped: what is on its way
// when the port opens is dropped before the device is asked anything.
TEST_F(NetworkOpening, WhatAStoppedDeviceStillSendsIsDroppedBeforeTheFirstCommand) {
  std::unique_ptr<DeviceLine> line;
  std::thread opening([&] { line = OpenComPort(peer.Address("tcp").c_str(), 9600, &why); });
  ASSERT_TRUE(peer.Accept());
  std::vector<std::pair<int, std::string>> stream;
  for (int i = 0; i < 8; ++i) stream.push_back({40, std::string(64, '\xFF')});
  peer.SendLater(stream);
  opening.join();
  ASSERT_TRUE(line) << why;
  peer.Join();
  EXPECT_EQ(0, line->InputWaiting());
  peer.Send("\x0E");
  char got = 0;
  EXPECT_EQ(1, line->Read(&got, 1));
  EXPECT_EQ('\x0E', got) << "the first byte after the open is the device's answer";
}

// A black-holed first address (its connection attempts go unanswered, as an
// IPv6 address without a route often does) does not hide a working second
// one: that one is begun a quarter of a second later, while the first still
// waits.
TEST(OpenNetworkPort, ABlackHoledFirstAddressDoesNotHideTheNext) {
  TestPeer working;
  ASSERT_TRUE(working.ok());
  TestPeer blackHole(0, "127.0.0.2", working.port());
  if (!blackHole.ok()) GTEST_SKIP() << "127.0.0.2 is no loopback address on this machine";
  blackHole.Hold();

  const auto deadline = TcpLine::Clock::now() + std::chrono::milliseconds(TcpLine::kConnectTimeoutMs);
  std::vector<SocketAddress> addresses, second;
  std::string why;
  ASSERT_TRUE(TcpLine::LookUp("127.0.0.2", static_cast<uint16_t>(working.port()), deadline, StopCheck(),
                              &addresses, &why))
      << why;
  ASSERT_TRUE(TcpLine::LookUp("localhost", static_cast<uint16_t>(working.port()), deadline, StopCheck(),
                              &second, &why))
      << why;
  addresses.insert(addresses.end(), second.begin(), second.end());
  std::unique_ptr<TcpLine> line;
  long long ms = MillisecondsOf([&] { line = TcpLine::ConnectFirst(addresses, deadline, StopCheck(), &why); });
  ASSERT_TRUE(line) << why;
  EXPECT_GE(ms, TcpLine::kNextAddressAfterMs - 10);
  EXPECT_LT(ms, TcpLine::kConnectTimeoutMs / 2);
  ASSERT_TRUE(working.Accept());
  working.Send("up");
  char got[2] = {};
  EXPECT_EQ(2, line->Read(got, 2));

  // Only black holes: no answer within the connect time, lookup included.
  addresses.resize(1);
  const auto soon = TcpLine::Clock::now() + std::chrono::milliseconds(600);
  EXPECT_FALSE(TcpLine::ConnectFirst(addresses, soon, StopCheck(), &why));
  EXPECT_EQ("no answer within 5 seconds", why);
}

// STOP (or Ctrl-C) ends every wait of an opening at once: the connection to
// an address that does not answer, the quiet a raw port is given, the RFC
// 2217 negotiation with a server that says nothing. The stop is asked at
// least every slice.
TEST(OpenNetworkPort, AStopEndsEachWaitOfTheOpening) {
  TestPeer blackHole(0);
  ASSERT_TRUE(blackHole.ok());
  blackHole.Hold();
  TestPeer silent;
  ASSERT_TRUE(silent.ok());
  const std::string addresses[] = {blackHole.Address("tcp"), blackHole.Address("rfc2217"),
                                   silent.Address("tcp"), silent.Address("rfc2217")};
  for (const std::string& address : addresses) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    Clock::time_point last = start;
    long long longestGapMs = 0;
    auto stop = [&] {
      Clock::time_point now = Clock::now();
      longestGapMs = std::max<long long>(
          longestGapMs, std::chrono::duration_cast<std::chrono::milliseconds>(now - last).count());
      last = now;
      return now - start >= std::chrono::milliseconds(300);
    };
    std::string why;
    std::unique_ptr<DeviceLine> line;
    long long ms = MillisecondsOf([&] { line = OpenComPort(address.c_str(), 9600, &why, stop); });
    EXPECT_FALSE(line) << address;
    EXPECT_EQ(address + ": stopped", why);
    // Room for a loaded machine: the waits themselves are seconds long.
    EXPECT_LT(ms, 2500) << address;
    EXPECT_LT(longestGapMs, 1000) << address;
    silent.Accept(0);
    silent.Close();
  }
}

// The server's side of the option as a device server plays it, with the
// values it sets in place of the ones asked, and its answers to binary mode
// (DO to the program's WILL, WILL to its DO).
TestPeer::Answer DeviceServer(uint32_t baudSet, uint8_t comPortAnswer = kDo, uint8_t binaryToServer = kDo,
                              uint8_t binaryFromServer = kWill) {
  return [=](const TelnetCommand& command) {
    Bytes reply;
    if (command.verb == kWill && command.option == kComPort) {
      TelnetNegotiate(comPortAnswer, kComPort, &reply);
    } else if (command.verb == kWill && command.option == kBinary) {
      TelnetNegotiate(binaryToServer, kBinary, &reply);
    } else if (command.verb == kDo && command.option == kBinary) {
      TelnetNegotiate(binaryFromServer, kBinary, &reply);
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

// Binary mode refused either way: a Telnet server without it may send a CR
// of the image as CR NUL, so the line is not used.
TEST_F(Rfc2217LineTest, BinaryModeRefusedEitherWayFailsTheOpen) {
  std::string why;
  EXPECT_FALSE(Open(DeviceServer(115200, kDo, kDont), 115200, &why));
  EXPECT_EQ(peer.Address("rfc2217") + ": the device server refuses binary transmission from the program", why);
  peer.StopServing();
  peer.Close();

  EXPECT_FALSE(Open(DeviceServer(115200, kDo, kDo, kWont), 115200, &why));
  EXPECT_EQ(peer.Address("rfc2217") +
                ": the device server refuses binary transmission to the program (a CR of the image would come "
                "as CR NUL)",
            why);
}

// A subnegotiation that never ends would swallow the image after it; past
// its bound the line fails instead, after the bytes before it. So does a
// server that turns binary mode off in the middle.
TEST_F(Rfc2217LineTest, AServerThatBreaksTheProtocolFailsTheLine) {
  std::string why;
  auto line = Open(DeviceServer(115200), 115200, &why);
  ASSERT_TRUE(line) << why;
  Bytes wire = {'o', 'k', kIac, kSb, kComPort};
  wire.insert(wire.end(), 5000, 'x');
  peer.Send(std::string(wire.begin(), wire.end()));
  char got[16] = {};
  EXPECT_EQ(2, line->Read(got, sizeof got));
  EXPECT_EQ(-1, line->Read(got, sizeof got));
  EXPECT_EQ("the device server sent a Telnet subnegotiation of more than 256 bytes without its end",
            line->FailureReason());
  EXPECT_EQ(-1, line->Write("x", 1));
  peer.StopServing();
  peer.Close();

  line = Open(DeviceServer(115200), 115200, &why);
  ASSERT_TRUE(line) << why;
  peer.Send(std::string("ab\xFF\xFC\x00", 5));  // then WONT BINARY
  EXPECT_EQ(2, line->Read(got, sizeof got));
  EXPECT_EQ(-1, line->Read(got, sizeof got));
  EXPECT_EQ("the device server turned binary transmission off", line->FailureReason());
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
