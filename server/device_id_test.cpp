// The device ids the server takes: text that reads as itself.
#include <gtest/gtest.h>

#include "server/device_id.h"

namespace {

TEST(DeviceId, TextThatReadsAsItselfIsTaken) {
  std::string why;
  for (const char* id : {"DV000001", "Каса 2", "..", ".", "a/b", "<b>&\"", "日本"}) EXPECT_TRUE(CheckDeviceId(id, &why)) << id;
  EXPECT_TRUE(CheckDeviceId(std::string(kDeviceIdMaxBytes, 'x'), &why));
}

TEST(DeviceId, BytesThatAreNoUtf8ControlsAndHiddenCharactersAreRefused) {
  const std::string refused[] = {
      "",
      std::string(kDeviceIdMaxBytes + 1, 'x'),
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
