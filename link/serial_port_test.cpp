// The port transfers over a real pseudo-terminal.
#include "link/serial_port.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "link/run_state.h"
#include "link/test_pty.h"
#include "testsupport/fake_ui.h"

namespace {

class SerialPortTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty.ok());
    line = OpenComPort(pty.slavePath().c_str(), 19200);
    ASSERT_TRUE(line);
    savedTimeout = readTimeout;
    readTimeout = 1;
    cancelFlag = 0;
  }
  void TearDown() override {
    pty.Join();
    line.reset();
    readTimeout = savedTimeout;
    cancelFlag = 0;
  }

  TestPty pty;
  FakeUi ui;
  std::unique_ptr<DeviceLine> line;
  int32_t savedTimeout = 5;
};

TEST_F(SerialPortTest, OpenComPortFailsForAnUnknownName) {
  std::string why = "stale";
  EXPECT_FALSE(OpenComPort("ttyTAXOSCOPE_NONE", 9600, &why));
  EXPECT_EQ("", why) << "a local port has no more to say than the message";
  EXPECT_FALSE(OpenComPort("", 9600));
}

TEST_F(SerialPortTest, PurgeAndWriteDropsStaleInputThenWrites) {
  pty.Send(std::string(4000, 'x'));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(1, PurgeAndWrite(*line, "\xAA\x3F\x39\x35\x0A", 5));
  EXPECT_EQ("\xAA\x3F\x39\x35\x0A", pty.Receive());
  EXPECT_EQ(0, line->InputWaiting());
}

TEST_F(SerialPortTest, ReadLineWithCrLf) {
  pty.Send("ABC\r\nDEF\n");
  char buffer[16] = {};
  EXPECT_EQ(3, ReadLine(*line, buffer, sizeof buffer));
  EXPECT_EQ(std::string("ABC\r\n"), std::string(buffer, 5));
  EXPECT_EQ(3, ReadLine(*line, buffer, sizeof buffer));
  EXPECT_EQ(std::string("DEF\n"), std::string(buffer, 4));
}

TEST_F(SerialPortTest, ReadLineKeepsTheByteAfterCrWhateverItIs) {
  pty.Send("AB\rXYZ\n");
  char buffer[16] = {};
  EXPECT_EQ(2, ReadLine(*line, buffer, sizeof buffer));
  EXPECT_EQ(std::string("AB\rX"), std::string(buffer, 4));
  EXPECT_EQ(2, ReadLine(*line, buffer, sizeof buffer));
  EXPECT_EQ(std::string("YZ\n"), std::string(buffer, 3));
}

TEST_F(SerialPortTest, ReadLineEndsAtTheTimeOut) {
  pty.Send("ABC\r");
  char buffer[16] = {};
  long long ms = MillisecondsOf([&] { EXPECT_EQ(3, ReadLine(*line, buffer, sizeof buffer)); });
  EXPECT_GE(ms, 900);
  EXPECT_LT(ms, 2600);
  ms = MillisecondsOf([&] { EXPECT_EQ(0, ReadLine(*line, buffer, sizeof buffer)); });
  EXPECT_GE(ms, 900);
  EXPECT_LT(ms, 2600);
}

TEST_F(SerialPortTest, ReadLineCutsABusyLineAtTheTimeOut) {
  std::vector<std::pair<int, std::string>> stream;
  for (int i = 0; i < 16; ++i) stream.push_back({100, "z"});
  pty.SendLater(stream);
  char buffer[64] = {};
  int length = 0;
  long long ms = MillisecondsOf([&] { length = ReadLine(*line, buffer, sizeof buffer); });
  EXPECT_LT(ms, 2200);
  EXPECT_GE(length, 1);
  EXPECT_LT(length, 16);
  EXPECT_EQ(std::string(static_cast<size_t>(length), 'z'), std::string(buffer, length));
}

TEST_F(SerialPortTest, ReadLineStoresNoMoreThanItsCapacity) {
  // The buffer is followed by guard bytes that must stay untouched.
  struct {
    char line[1024];
    char guard[64];
  } area;
  std::memset(&area, '#', sizeof area);
  std::string longLine;
  for (int i = 0; i < 1500; ++i) longLine += static_cast<char>('a' + i % 26);
  pty.Send(longLine + "\r\nNEXT\n");
  EXPECT_EQ(1024, ReadLine(*line, area.line, sizeof area.line));
  EXPECT_EQ(longLine.substr(0, 1024), std::string(area.line, sizeof area.line));
  EXPECT_EQ(std::string(64, '#'), std::string(area.guard, sizeof area.guard));
  // The rest of the long line was consumed: the next line is read whole.
  EXPECT_EQ(4, ReadLine(*line, area.line, sizeof area.line));
  EXPECT_EQ("NEXT\n", std::string(area.line, 5));
}

TEST_F(SerialPortTest, ReadLineWithRoomForTheLineButNotItsEnd) {
  char area[8];
  std::memset(area, '#', sizeof area);
  pty.Send("1234\r\n");
  EXPECT_EQ(4, ReadLine(*line, area, 5));
  EXPECT_EQ(std::string("1234\r###"), std::string(area, 8));
}

TEST_F(SerialPortTest, ReadBlockGathersPiecesAndNeverOverfills) {
  pty.SendLater({{50, "abc"}, {100, "defgh"}, {100, "ijklmnopqrstuvwxyz"}});
  char area[32];
  std::memset(area, '#', sizeof area);
  EXPECT_EQ(10, ReadBlock(*line, area, 10));
  EXPECT_EQ(std::string("abcdefghij######"), std::string(area, 16));
}

TEST_F(SerialPortTest, ReadBlockZeroFillsAndReturnsShortOnSilence) {
  pty.Send("xy");
  char area[8];
  std::memset(area, '#', sizeof area);
  int got = 0;
  long long ms = MillisecondsOf([&] { got = ReadBlock(*line, area, 6); });
  EXPECT_EQ(2, got);
  EXPECT_EQ(std::string("xy\0\0\0\0##", 8), std::string(area, 8));
  // The port read ends 500 ms after the data; whether another, silent one
  // follows depends on where in the clock's second the call began.
  EXPECT_GE(ms, 450);
  EXPECT_LT(ms, 2600);
}

TEST_F(SerialPortTest, ReadBlockOnASilentDeviceWaitsAboutReadTimeout) {
  readTimeout = 2;
  char byte = '#';
  int got = -1;
  long long ms = MillisecondsOf([&] { got = ReadBlock(*line, &byte, 1); });
  EXPECT_EQ(0, got);
  EXPECT_GE(ms, 1000);
  EXPECT_LT(ms, 3600);
}

TEST_F(SerialPortTest, ReadBlockGivesUpAtTheFirstEmptyReadAfterStop) {
  readTimeout = 5;
  // STOP arrives as a message dispatched inside the block read.
  ui.onDispatch = [](int) { cancelFlag = 1; };
  char byte = '#';
  int got = -1;
  long long ms = MillisecondsOf([&] { got = ReadBlock(*line, &byte, 1); });
  EXPECT_EQ(0, got);
  EXPECT_EQ(1, ui.dispatchCalls);
  EXPECT_LT(ms, 1500);
}

TEST_F(SerialPortTest, ReadBlockStopsAtAHangUp) {
  pty.Send("ab");
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  pty.CloseMaster();
  char area[8];
  int got = -1;
  long long ms = MillisecondsOf([&] { got = ReadBlock(*line, area, 8); });
  EXPECT_LT(ms, 800);
  EXPECT_LE(got, 2);
}

}  // namespace
