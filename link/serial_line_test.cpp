// The POSIX serial line over a real pseudo-terminal: raw 8N1, the Windows
// port time-outs reproduced, the input queue, exclusive opening.
#include "link/serial_line.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>

#include <string>

#include "link/test_pty.h"
#include "testsupport/temp_dir.h"

namespace {

class SerialLineTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty.ok());
    line = OpenSerialLine(pty.slavePath().c_str(), 115200);
    ASSERT_TRUE(line);
  }
  void TearDown() override {
    pty.Join();
    line.reset();
  }

  std::string Read(int32_t count, int32_t* result = nullptr) {
    std::string buffer(static_cast<size_t>(count), '\0');
    int32_t got = line->Read(&buffer[0], count);
    if (result) *result = got;
    buffer.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return buffer;
  }

  TestPty pty;
  std::unique_ptr<DeviceLine> line;
};

TEST_F(SerialLineTest, ReadReturnsAsSoonAsItsBytesAreIn) {
  pty.Send("ABCDEF");
  std::string got;
  long long ms = MillisecondsOf([&] { got = Read(4); });
  EXPECT_EQ("ABCD", got);
  EXPECT_LT(ms, 300);
  EXPECT_EQ("EF", Read(2));
}

TEST_F(SerialLineTest, SilentLineGivesNothingAfterOneSecond) {
  int32_t result = -2;
  long long ms = MillisecondsOf([&] { Read(10, &result); });
  EXPECT_EQ(0, result);
  EXPECT_GE(ms, 950);
  EXPECT_LT(ms, 1500);
}

TEST_F(SerialLineTest, ReadEndsHalfASecondAfterTheLastByte) {
  pty.SendLater({{100, "abc"}, {200, "de"}});
  std::string got;
  long long ms = MillisecondsOf([&] { got = Read(10); });
  EXPECT_EQ("abcde", got);
  EXPECT_GE(ms, 750);  // 300 ms until the last byte, then 500 ms of quiet
  EXPECT_LT(ms, 1000);
}

TEST_F(SerialLineTest, TricklingBytesStillEndTheReadAfterOneSecond) {
  std::vector<std::pair<int, std::string>> trickle;
  for (int i = 0; i < 4; ++i) trickle.push_back({300, std::string(1, static_cast<char>('0' + i))});
  pty.SendLater(trickle);
  std::string got;
  long long ms = MillisecondsOf([&] { got = Read(100); });
  EXPECT_GE(ms, 950);
  EXPECT_LT(ms, 1300);
  EXPECT_EQ("012", got);
}

TEST_F(SerialLineTest, SignalsDoNotCutAReadShort) {
  struct sigaction action = {};
  action.sa_handler = [](int) {};
  struct sigaction previous;
  ASSERT_EQ(0, sigaction(SIGUSR1, &action, &previous));
  pthread_t self = pthread_self();
  std::thread interrupter([self] {
    for (int i = 0; i < 4; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(150));
      pthread_kill(self, SIGUSR1);
    }
  });
  pty.SendLater({{400, "xy"}});
  std::string got;
  long long ms = MillisecondsOf([&] { got = Read(5); });
  interrupter.join();
  sigaction(SIGUSR1, &previous, nullptr);
  EXPECT_EQ("xy", got);
  EXPECT_GE(ms, 850);
}

TEST_F(SerialLineTest, LineIsRawEightBitInBothDirections) {
  std::string all;
  for (int c = 0; c < 256; ++c) all += static_cast<char>(c);
  pty.Send(all);
  EXPECT_EQ(all, Read(256));

  EXPECT_EQ(256, line->Write(all.data(), 256));
  EXPECT_EQ(all, pty.Receive());
}

TEST_F(SerialLineTest, InputWaitingCountsQueuedBytes) {
  EXPECT_EQ(0, line->InputWaiting());
  pty.Send("1234567");
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(7, line->InputWaiting());
  Read(7);
  EXPECT_EQ(0, line->InputWaiting());
}

TEST_F(SerialLineTest, HangUpFailsTheReadAtOnce) {
  pty.CloseMaster();
  int32_t result = 0;
  long long ms = MillisecondsOf([&] { Read(10, &result); });
  EXPECT_EQ(-1, result);
  EXPECT_LT(ms, 300);
}

TEST_F(SerialLineTest, PortIsNotShared) {
  EXPECT_FALSE(OpenSerialLine(pty.slavePath().c_str(), 9600));
  line.reset();
  line = OpenSerialLine(pty.slavePath().c_str(), 9600);
  EXPECT_TRUE(line);
}

// A pseudo-terminal keeps no counts of lost bytes: nothing is made up.
TEST_F(SerialLineTest, NoFaultsWhereTheDriverCountsNone) {
  pty.Send(std::string(3000, 'x'));
  Read(3000);
  EXPECT_FALSE(line->TakeFaults().any());
}

TEST(OpenSerialLine, OnlyExistingTerminalsOpen) {
  TempDir dir;
  EXPECT_FALSE(OpenSerialLine(dir.File("ttyNONE").c_str(), 9600));
  ASSERT_TRUE(WriteFileBytes(dir.File("plain"), "not a port"));
  EXPECT_FALSE(OpenSerialLine(dir.File("plain").c_str(), 9600));
  EXPECT_FALSE(FileExists(dir.File("ttyNONE")));
  EXPECT_EQ("not a port", ReadFileBytes(dir.File("plain")));
}

}  // namespace
