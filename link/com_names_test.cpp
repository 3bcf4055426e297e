#include "link/com_names.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

// A device-name list as the system returns it: names separated by NULs, an
// empty name at the end.
std::string NameList(std::initializer_list<const char*> names) {
  std::string list;
  for (const char* name : names) {
    list += name;
    list += '\0';
  }
  list += '\0';
  return list;
}

struct Counted {
  int count;
  uint8_t present[256];
  std::vector<std::string> names;
};

Counted Count(const std::string& list) {
  Counted result;
  std::memset(result.present, 0, sizeof result.present);
  result.count = CountComNames(list.data(), list.size(), result.present, &result.names);
  return result;
}

int PresentCount(const uint8_t present[256]) {
  int n = 0;
  for (int i = 0; i < 256; ++i) n += present[i];
  return n;
}

TEST(CountComNames, CountsComNamesAndMarksTheirNumbers) {
  Counted c = Count(NameList({"C:", "COM1", "LPT1", "COM3", "PhysicalDrive0", "COM12"}));
  EXPECT_EQ(3, c.count);
  EXPECT_EQ(1, c.present[1]);
  EXPECT_EQ(1, c.present[3]);
  EXPECT_EQ(1, c.present[12]);
  EXPECT_EQ(3, PresentCount(c.present));
  EXPECT_EQ((std::vector<std::string>{"COM1", "COM3", "COM12"}), c.names);
}

TEST(CountComNames, OddComNames) {
  // COMX counts and marks 0; COM300 counts and marks nothing; the bare name
  // COM does not count; letter case does not matter.
  Counted c = Count(NameList({"COMX", "COM300", "COM", "com5", "CoM255", "COM256"}));
  EXPECT_EQ(5, c.count);
  EXPECT_EQ(1, c.present[0]);
  EXPECT_EQ(1, c.present[5]);
  EXPECT_EQ(1, c.present[255]);
  EXPECT_EQ(3, PresentCount(c.present));
}

TEST(CountComNames, EmptyListAndCutList) {
  EXPECT_EQ(0, Count(std::string(1, '\0')).count);
  // A list without its closing NULs ends at the area's end, not beyond it.
  std::string cut = "COM1";
  cut += '\0';
  cut += "COM7";
  Counted c = Count(cut);
  EXPECT_EQ(2, c.count);
  EXPECT_EQ(1, c.present[7]);
}

TEST(ComNameNumber, ReadsTheDecimalNumberAfterCom) {
  EXPECT_EQ(3, ComNameNumber("COM3"));
  EXPECT_EQ(0, ComNameNumber("COMX"));
  EXPECT_EQ(12, ComNameNumber("com12abc"));
  EXPECT_EQ(-1, ComNameNumber("COM-1"));
  EXPECT_GT(ComNameNumber("COM99999999999999999999"), 255);
}

TEST(PortPaths, WindowsTriesTheDevicePrefixThenTheNameItself) {
  EXPECT_EQ((std::vector<std::string>{"\\\\.\\COM3", "COM3"}), Win32PortPaths("COM3"));
  EXPECT_EQ((std::vector<std::string>{"\\\\.\\\\\\.\\COM10", "\\\\.\\COM10"}),
            Win32PortPaths("\\\\.\\COM10"));
  EXPECT_TRUE(Win32PortPaths("").empty());
}

TEST(PortPaths, PosixMapsNamesOntoDev) {
  using V = std::vector<std::string>;
  EXPECT_EQ(V{"/dev/ttyUSB0"}, PosixPortPaths("ttyUSB0"));
  EXPECT_EQ(V{"/dev/pts/4"}, PosixPortPaths("/dev/pts/4"));
  EXPECT_EQ(V{"./link"}, PosixPortPaths("./link"));
  EXPECT_EQ(V{"/dev/ttyS0"}, PosixPortPaths("COM1"));
  EXPECT_EQ(V{"/dev/ttyS9"}, PosixPortPaths("com10"));
  EXPECT_EQ(V{"/dev/ttyS255"}, PosixPortPaths("COM256"));
  EXPECT_EQ(V{"/dev/ttyS2"}, PosixPortPaths("\\\\.\\COM3"));
  // Not a COM number: looked up under /dev as it is.
  EXPECT_EQ(V{"/dev/COM0"}, PosixPortPaths("COM0"));
  EXPECT_EQ(V{"/dev/COM257"}, PosixPortPaths("COM257"));
  EXPECT_EQ(V{"/dev/COM1x"}, PosixPortPaths("COM1x"));
  EXPECT_TRUE(PosixPortPaths("").empty());
}

}  // namespace
