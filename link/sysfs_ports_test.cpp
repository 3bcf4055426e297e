#include "link/sysfs_ports.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "testsupport/temp_dir.h"

namespace {

// A fake /sys/class/tty: each entry a directory, device/driver where the
// kernel bound a driver, "type" where the port is a UART slot.
class FakeTtyClass {
 public:
  void Add(const std::string& name, bool driver, const char* type = nullptr) {
    std::string entry = dir_.File(name);
    mkdir(entry.c_str(), 0755);
    if (driver) {
      mkdir((entry + "/device").c_str(), 0755);
      mkdir((entry + "/device/driver").c_str(), 0755);
    }
    if (type) WriteFileBytes(entry + "/type", type);
  }
  std::string path() const { return dir_.path(); }

 private:
  TempDir dir_;
};

TEST(SysfsSerialPorts, ListsDevicesWithADriverInNaturalOrder) {
  FakeTtyClass tty;
  tty.Add("console", false);
  tty.Add("tty0", false);
  tty.Add("ptmx", false);
  tty.Add("ttyS0", true, "4\n");
  tty.Add("ttyS1", true, "0\n");  // a reserved slot without a UART
  tty.Add("ttyS10", true, "4\n");
  tty.Add("ttyS2", true, "4\n");
  tty.Add("ttyUSB0", true);
  tty.Add("ttyACM1", true);
  tty.Add("ttyACM0", true);
  EXPECT_EQ((std::vector<std::string>{"ttyACM0", "ttyACM1", "ttyS0", "ttyS2", "ttyS10", "ttyUSB0"}),
            SysfsSerialPorts(tty.path()));
}

TEST(SysfsSerialPorts, MissingClassDirectoryListsNothing) {
  TempDir dir;
  EXPECT_TRUE(SysfsSerialPorts(dir.File("absent")).empty());
}

TEST(ComNumberOfDevice, OnBoardPortsCountFromCom1) {
  EXPECT_EQ(1, ComNumberOfDevice("ttyS0"));
  EXPECT_EQ(11, ComNumberOfDevice("ttyS10"));
  EXPECT_EQ(0, ComNumberOfDevice("ttyUSB0"));
  EXPECT_EQ(0, ComNumberOfDevice("ttyS"));
  EXPECT_EQ(0, ComNumberOfDevice("ttyS1a"));
}

}  // namespace
