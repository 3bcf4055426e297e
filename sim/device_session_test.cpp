#include "sim/device_session.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sim/dump_builder.h"

namespace {

std::vector<CommandScanner::Command> FeedAll(CommandScanner& scanner, const std::vector<uint8_t>& bytes) {
  std::vector<CommandScanner::Command> commands;
  for (uint8_t byte : bytes) {
    CommandScanner::Command command = scanner.Feed(byte);
    if (command != CommandScanner::None) commands.push_back(command);
  }
  return commands;
}

std::vector<uint8_t> Cat(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

const std::vector<uint8_t> kIdentify(kIdentifyFrame, kIdentifyFrame + 5);

TEST(CommandFrames, DumpCommandForAnId) {
  // Id "123456": X = 0xEE, so both checksum characters are 0x3E.
  EXPECT_EQ((std::vector<uint8_t>{0xAA, '1', '2', '3', '4', '5', '6', 0x43, 0x3E, 0x3E, 0x0A}),
            DumpCommandFrame("123456"));
  EXPECT_EQ((std::vector<uint8_t>{0xAA, 0x3F, 0x39, 0x35, 0x0A}), kIdentify);
}

TEST(CommandScanner, FindsFramesAmongGarbage) {
  CommandScanner scanner;
  std::vector<uint8_t> stream = Cat(Cat({0x00, 0x0A, 0xAA, 0x0A, 'x'}, kIdentify), {0x55, 0xAA});
  stream = Cat(stream, DumpCommandFrame("ABCDEF"));
  stream = Cat(stream, kIdentify);
  EXPECT_EQ((std::vector<CommandScanner::Command>{CommandScanner::Identify, CommandScanner::Dump,
                                                  CommandScanner::Identify}),
            FeedAll(scanner, stream));
  EXPECT_EQ("ABCDEF", scanner.dumpId());
}

TEST(CommandScanner, IdsMayHoldAnyByteIncludingFrameBytes) {
  const std::string id("\xAA\x0A\x3F\x00\xFF\x0A", 6);
  CommandScanner scanner;
  EXPECT_EQ((std::vector<CommandScanner::Command>{CommandScanner::Dump}), FeedAll(scanner, DumpCommandFrame(id)));
  EXPECT_EQ(id, scanner.dumpId());
}

TEST(CommandScanner, RejectsBadChecksumsAndShortFrames) {
  CommandScanner scanner;
  std::vector<uint8_t> frame = DumpCommandFrame("123456");
  frame[9] ^= 1;
  EXPECT_TRUE(FeedAll(scanner, frame).empty());
  frame = DumpCommandFrame("123456");
  frame[8] = 'E';  // a hexadecimal letter is not how the device writes nibbles
  EXPECT_TRUE(FeedAll(scanner, frame).empty());
  EXPECT_TRUE(FeedAll(scanner, {0xAA, '1', '2', '3', 0x43, 0x3E, 0x3E, 0x0A}).empty());
  EXPECT_TRUE(FeedAll(scanner, {0xAA, 0x3F, 0x39, 0x36, 0x0A}).empty());
  // Still in step afterwards.
  EXPECT_EQ(1u, FeedAll(scanner, DumpCommandFrame("123456")).size());
}

TEST(DeviceMode, NamesRoundTrip) {
  for (int i = 0; i <= static_cast<int>(DeviceMode::HangUp); ++i) {
    DeviceMode mode = DeviceMode::Normal;
    ASSERT_TRUE(ParseDeviceMode(DeviceModeName(static_cast<DeviceMode>(i)), &mode)) << i;
    EXPECT_EQ(i, static_cast<int>(mode));
  }
  DeviceMode mode = DeviceMode::Pause;
  EXPECT_FALSE(ParseDeviceMode("Normal", &mode));
  EXPECT_FALSE(ParseDeviceMode("", &mode));
  EXPECT_EQ(DeviceMode::Pause, mode);
  EXPECT_EQ(std::string("hang-up"), DeviceModeName(DeviceMode::HangUp));
}

std::vector<uint8_t> Reply(DeviceSession& session) {
  Transmission* tx = session.current();
  if (!tx) return {};
  return std::vector<uint8_t>(tx->bytes->begin(), tx->bytes->begin() + static_cast<long>(tx->length));
}

DeviceOptions SmallDevice(DeviceMode mode) {
  DeviceOptions options;
  options.mode = mode;
  options.id = "A1B2C3";
  options.image = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  return options;
}

TEST(DeviceSession, AnswersIdentifyAndItsOwnDump) {
  DeviceSession session(SmallDevice(DeviceMode::Normal));
  EXPECT_EQ(nullptr, session.current());
  session.Receive(kIdentify.data(), kIdentify.size());
  std::vector<uint8_t> reply = Reply(session);
  ASSERT_GE(reply.size(), 9u);
  EXPECT_EQ(0x0E, reply[0]);
  EXPECT_EQ("A1B2C3", std::string(reply.begin() + 1, reply.begin() + 7));
  EXPECT_EQ('\r', reply[reply.size() - 2]);
  EXPECT_EQ('\n', reply.back());
  EXPECT_FALSE(session.current()->dump);
  session.Finish();

  std::vector<uint8_t> other = DumpCommandFrame("123456");
  session.Receive(other.data(), other.size());
  EXPECT_EQ(nullptr, session.current()) << "a dump for another id is not ours";
  std::vector<uint8_t> dump = DumpCommandFrame("A1B2C3");
  session.Receive(dump.data(), dump.size());
  EXPECT_EQ(session.options().image, Reply(session));
  EXPECT_TRUE(session.current()->dump);
  session.Finish();
  EXPECT_EQ(1, session.IdentifyRequests());
  EXPECT_EQ(1, session.DumpRequests());
  EXPECT_EQ(1, session.TransfersEnded());
  EXPECT_EQ(kIdentify.size() + other.size() + dump.size(), session.Received().size());
}

TEST(DeviceSession, ANewCommandReplacesTheTransmission) {
  DeviceSession session(SmallDevice(DeviceMode::Normal));
  std::vector<uint8_t> dump = DumpCommandFrame("A1B2C3");
  session.Receive(dump.data(), dump.size());
  unsigned first = session.current()->generation;
  session.current()->sent = 4;
  session.Receive(kIdentify.data(), kIdentify.size());
  ASSERT_NE(nullptr, session.current());
  EXPECT_NE(first, session.current()->generation);
  EXPECT_EQ(0u, session.current()->sent);
  EXPECT_EQ(0x0E, Reply(session)[0]);
  EXPECT_EQ(1, session.TransfersEnded()) << "the cut dump counts as ended";
}

TEST(DeviceSession, ModesShapeTheReplies) {
  std::vector<uint8_t> dump = DumpCommandFrame("A1B2C3");
  {
    DeviceSession session(SmallDevice(DeviceMode::Silent));
    session.Receive(kIdentify.data(), kIdentify.size());
    session.Receive(dump.data(), dump.size());
    EXPECT_EQ(nullptr, session.current());
    EXPECT_EQ(1, session.IdentifyRequests());
    EXPECT_EQ(1, session.DumpRequests());
  }
  {
    DeviceSession session(SmallDevice(DeviceMode::BadReceipt));
    session.Receive(kIdentify.data(), kIdentify.size());
    EXPECT_EQ((std::vector<uint8_t>{0x15, 'A', 'B', '\r', '\n'}), Reply(session));
    DeviceOptions custom = SmallDevice(DeviceMode::BadReceipt);
    custom.badReceiptLine = "\x06OOPS\n";
    DeviceSession customSession(custom);
    customSession.Receive(kIdentify.data(), kIdentify.size());
    EXPECT_EQ((std::vector<uint8_t>{0x06, 'O', 'O', 'P', 'S', '\n'}), Reply(customSession));
  }
  {
    DeviceSession session(SmallDevice(DeviceMode::LongReply));
    session.Receive(kIdentify.data(), kIdentify.size());
    std::vector<uint8_t> reply = Reply(session);
    EXPECT_EQ(1u + 2000 + 2, reply.size());
    EXPECT_EQ(0x0E, reply[0]);
    EXPECT_EQ("A1B2C3", std::string(reply.begin() + 1, reply.begin() + 7));
    for (size_t i = 1; i < reply.size() - 2; ++i) ASSERT_TRUE(reply[i] != '\r' && reply[i] != '\n') << i;
  }
  {
    DeviceSession session(SmallDevice(DeviceMode::Refuse));
    session.Receive(dump.data(), dump.size());
    EXPECT_EQ((std::vector<uint8_t>{0x15, 0x0A}), Reply(session));
    EXPECT_TRUE(session.current()->dump);
  }
  {
    DeviceSession session(SmallDevice(DeviceMode::NoDump));
    session.Receive(kIdentify.data(), kIdentify.size());
    EXPECT_EQ(0x0E, Reply(session)[0]);
    session.Finish();
    session.Receive(dump.data(), dump.size());
    EXPECT_EQ(nullptr, session.current());
    EXPECT_EQ(1, session.DumpRequests());
  }
  {
    DeviceSession session(SmallDevice(DeviceMode::Pause));
    session.Receive(dump.data(), dump.size());
    EXPECT_EQ(5u, session.current()->pauseAt);
    EXPECT_EQ(10u, session.current()->length);
  }
  {
    DeviceSession session(SmallDevice(DeviceMode::HangUp));
    session.Receive(dump.data(), dump.size());
    EXPECT_EQ(5u, session.current()->length);
    EXPECT_TRUE(session.current()->hangUpAfter);
  }
  {
    DeviceSession session(SmallDevice(DeviceMode::Oversize));
    session.Receive(dump.data(), dump.size());
    std::vector<uint8_t> reply = Reply(session);
    ASSERT_EQ(DeviceSession::kOversizeLength, reply.size());
    EXPECT_EQ(session.options().image, std::vector<uint8_t>(reply.begin(), reply.begin() + 10));
    EXPECT_EQ(0xFF, reply.back());
  }
}

TEST(DeviceSession, EmptyImageMeansTheGeneratedOne) {
  DeviceOptions options;
  options.image.clear();
  DeviceSession session(options);
  EXPECT_EQ(GenerateDump(GenerateOptions()), session.options().image);
}

}  // namespace
