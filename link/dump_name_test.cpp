#include "link/dump_name.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Expected(const std::string& id) {
  return CurrentDirectory() + kPathSeparator + id + ".bin";
}

TEST(MakeDumpName, SafeIdGivesCurrentDirectoryIdAndBin) {
  EXPECT_EQ(Expected("123456"), MakeDumpName("123456"));
  EXPECT_EQ(Expected("AB-1 z"), MakeDumpName("AB-1 z"));
  // Only the six id bytes count; whatever follows in the reply is not used.
  EXPECT_EQ(Expected("ZK0001"), MakeDumpName("ZK0001 rest of the line"));
  // Bytes above 0x7F are letters of the ANSI code page and stay.
  EXPECT_EQ(Expected("\xC4\xC0"
                     "1234"),
            MakeDumpName("\xC4\xC0"
                         "1234"));
}

TEST(MakeDumpName, UnsafeBytesBecomeUnderscores) {
  EXPECT_EQ(Expected("_.._x_"), MakeDumpName("/../x/"));
  EXPECT_EQ(Expected("______"), MakeDumpName("\\:*?\"<"));
  EXPECT_EQ(Expected("___12_"), MakeDumpName(">|\t12\x7F"));
  // A NUL in the id neither cuts the name short nor ends the id.
  const char withNul[6] = {'1', '2', '\0', '4', '\r', '\n'};
  EXPECT_EQ(Expected("12_4__"), MakeDumpName(withNul));
}

}  // namespace
