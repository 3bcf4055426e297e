// The server's rules for device ids: text that reads as what it is.
#include "server/device_id.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(DeviceId, TextOfAtMost64BytesIsAnId) {
  std::string problem;
  for (const std::string& id : {std::string("DV000001"), std::string("Магазин-1"), std::string(64, 'x'),
                               std::string(".."), std::string("a b"), std::string("日本")}) {
    EXPECT_TRUE(CheckDeviceId(id, &problem)) << id << ": " << problem;
  }
  EXPECT_FALSE(CheckDeviceId("", &problem));
  EXPECT_FALSE(CheckDeviceId(std::string(65, 'x'), &problem));
  EXPECT_EQ(problem, "a device id is at most 64 bytes");
}

// %FF%FE and %FE%FF would both become U+FFFD U+FFFD: one register of two.
TEST(DeviceId, BytesThatAreNoUtf8AreRefusedNotReplaced) {
  std::string problem;
  for (const char* id : {"\xFF\xFE", "\xFE\xFF", "DV\xE9", "\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80",
                         "\xF4\x90\x80\x80", "cut\xE2\x82", "\x80"}) {
    EXPECT_FALSE(CheckDeviceId(id, &problem)) << id;
    EXPECT_EQ(problem.rfind("a device id is UTF-8 text (byte ", 0), 0u) << problem;
  }
  CheckDeviceId("DV\xE9", &problem);
  EXPECT_EQ(problem, "a device id is UTF-8 text (byte 3 is not)");
}

TEST(DeviceId, ControlAndInvisibleCharactersAreRefused) {
  std::string problem;
  const struct {
    const char* id;
    const char* code;
  } cases[] = {
      {"DV\t1", "U+0009"},         {"DV\x7F", "U+007F"},         {"DV\xC2\x85", "U+0085"},
      {"DV\xE2\x80\x8B" "1", "U+200B"}, {"DV\xE2\x80\x8F", "U+200F"}, {"\xE2\x80\xAE" "1000VD", "U+202E"},
      {"DV\xE2\x81\xA6", "U+2066"}, {"DV\xE2\x81\xA0", "U+2060"}, {"\xEF\xBB\xBF" "DV1", "U+FEFF"},
  };
  for (const auto& c : cases) {
    EXPECT_FALSE(CheckDeviceId(c.id, &problem)) << c.code;
    EXPECT_NE(problem.find(std::string("(") + c.code + ")"), std::string::npos) << problem;
  }
  CheckDeviceId("DV\xE2\x80\xAE", &problem);
  EXPECT_EQ(problem, "a device id has no invisible or direction-changing characters (U+202E)");
  CheckDeviceId(std::string("DV\0" "1", 4), &problem);
  EXPECT_EQ(problem, "a device id has no control characters (U+0000)");
}

TEST(DeviceId, CodePointsAreDecodedWhole) {
  const std::string text = "A\xD0\x96\xE2\x82\xAC\xF0\x9F\x98\x80";  // A, Ж, €, 😀
  size_t at = 0;
  uint32_t c = 0;
  for (uint32_t expected : {0x41u, 0x416u, 0x20ACu, 0x1F600u}) {
    ASSERT_TRUE(NextCodePoint(text, &at, &c));
    EXPECT_EQ(c, expected);
  }
  EXPECT_EQ(at, text.size());
  EXPECT_FALSE(NextCodePoint(text, &at, &c));
}

TEST(DeviceId, TextThatReadsAsItselfIsTaken) {
  std::string why;
  for (const char* id : {"DV000001", "Каса 2", "..", ".", "a/b", "<b>&\"", "日本"}) EXPECT_TRUE(CheckDeviceId(id, &why)) << id;
  EXPECT_TRUE(CheckDeviceId(std::string(kMaxDeviceIdBytes, 'x'), &why));
}

TEST(DeviceId, BytesThatAreNoUtf8ControlsAndHiddenCharactersAreRefused) {
  const std::string refused[] = {
      "",
      std::string(kMaxDeviceIdBytes + 1, 'x'),
      "\xFF\xFE",               // no UTF-8: would read as U+FFFD, as would "\xFE\xFF"
      "DV\xC0\xAF",             // an overlong '/'
      "\xED\xA0\x80",           // a surrogate
      "\xF4\x90\x80\x80",       // past U+10FFFF
      "DV\xE2\x82",             // cut short
      "DV\t1", "DV\n1", "DV\x7F", "DV\xC2\x85",  // controls, C1 among them
      "\xE2\x80\xAE" "1VD",     // U+202E right-to-left override
      "DV\xE2\x81\xA6" "1",     // U+2066
      "DV\xE2\x80\x8B" "1",     // U+200B zero-width space
      "DV\xE2\x80\x8F" "1",     // U+200F right-to-left mark
      "\xEF\xBB\xBF" "DV1",     // U+FEFF
  };
  for (const std::string& id : refused) {
    std::string why;
    EXPECT_FALSE(CheckDeviceId(id, &why)) << id;
    EXPECT_NE(std::string::npos, why.find("device id")) << why;
  }
  std::string why;
  CheckDeviceId("\xE2\x80\xAE" "1VD", &why);
  EXPECT_NE(std::string::npos, why.find("U+202E")) << why;
}

}  // namespace
