#include "link/device_protocol.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/acquire.h"

namespace {

std::vector<uint8_t> Frame(const char* id, uint8_t command) {
  uint8_t frame[16];
  int size = BuildFrame(reinterpret_cast<const uint8_t*>(id), id ? 6 : 0, command, frame);
  return std::vector<uint8_t>(frame, frame + size);
}

TEST(BuildFrame, IdentifyFrame) {
  EXPECT_EQ((std::vector<uint8_t>{0xAA, 0x3F, 0x39, 0x35, 0x0A}), Frame(nullptr, kIdentifyCommand));
}

TEST(BuildFrame, DumpFrameForId123456) {
  // X = 0xE9 ^ '1' ^ ... ^ '6' = 0xEE: both nibbles are 14, sent as '>'.
  EXPECT_EQ((std::vector<uint8_t>{0xAA, '1', '2', '3', '4', '5', '6', 0x43, 0x3E, 0x3E, 0x0A}),
            Frame("123456", kDumpCommand));
}

TEST(BuildFrame, ChecksumCharactersAreNotHexLetters) {
  // Id bytes XORing to 0xE9 ^ 0xA5 give X = 0xA5: ':' and '5'.
  const char id[6] = {'\x4C', 0, 0, 0, 0, 0};  // 0xE9 ^ 0x4C = 0xA5
  std::vector<uint8_t> frame = Frame(id, kDumpCommand);
  EXPECT_EQ(0x3A, frame[8]);
  EXPECT_EQ(0x35, frame[9]);
}

TEST(DumpProgress, FollowsTheBarFormula) {
  EXPECT_EQ(0, DumpProgress(0));
  EXPECT_EQ(0, DumpProgress(37));
  EXPECT_EQ(1, DumpProgress(38));
  EXPECT_EQ(1, DumpProgress(21010));
  EXPECT_EQ(2, DumpProgress(21011));
  EXPECT_EQ(48, DumpProgress(1000000));
  EXPECT_EQ(99, DumpProgress(2076364));
  EXPECT_EQ(100, DumpProgress(2076365));
  EXPECT_EQ(100, DumpProgress(2097338));
  EXPECT_EQ(100, DumpProgress(kDumpBufferSize - 1));
}

TEST(BadReceiptText, TwoBlanksThenEachByteInHex) {
  EXPECT_EQ("Bad Receipt:  0x41 0x0D ", BadReceiptText("A\r", 2));
  EXPECT_EQ("Bad Receipt:  ", BadReceiptText("", 0));
  // Bytes above 0x7F are shown as one byte, not sign-extended.
  EXPECT_EQ("Bad Receipt:  0xFF 0x80 0x05 ", BadReceiptText("\xFF\x80\x05", 3));
}

TEST(BadReceiptText, ShowsAtMost200Bytes) {
  std::string reply(1024, 'Z');
  std::string text = BadReceiptText(reply.data(), 300);
  EXPECT_EQ(14u + 200u * 5u, text.size());
  EXPECT_EQ("0x5A ", text.substr(text.size() - 5));
  EXPECT_EQ(14u + 199u * 5u, BadReceiptText(reply.data(), 199).size());
}

TEST(BaudForSpeedIndex, ListIndexOrNineThousandSixHundred) {
  EXPECT_EQ(9600u, BaudForSpeedIndex(-1));
  EXPECT_EQ(9600u, BaudForSpeedIndex(0));
  EXPECT_EQ(19200u, BaudForSpeedIndex(1));
  EXPECT_EQ(115200u, BaudForSpeedIndex(4));
  EXPECT_EQ(9600u, BaudForSpeedIndex(5));
}

}  // namespace
