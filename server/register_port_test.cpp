// A register's port: the forms the reader takes, and the line each reaches.
#include "server/register_port.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "testsupport/temp_dir.h"

namespace {

TEST(RegisterPort, TheReadersFormsAreTaken) {
  std::string problem;
  for (const char* port : {"tcp://box1:4001", "TCP://192.168.1.20:4001", "rfc2217://[fe80::1%eth0]:2217",
                           "/dev/ttyS0", "ttyUSB0", "COM1", "/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0"}) {
    EXPECT_TRUE(CheckRegisterPort(port, &problem)) << port << ": " << problem;
  }
}

TEST(RegisterPort, TyposAreRefusedWithTheAcceptedForms) {
  std::string problem;
  const struct {
    const char* port;
    const char* says;
  } cases[] = {
      {"", "the port is empty"},
      {" tcp://box:4001", "has blanks around it"},
      {"tcp://box:4001 ", "has blanks around it"},
      {"telnet://box:2001", "'telnet://box:2001' is no address this program reads"},
      {"tcp:/box:2001", "'tcp:/box:2001' is no address this program reads"},
      {"box.lan:4001", "(a device server's port is tcp://box.lan:4001 or rfc2217://box.lan:4001)"},
      {"tcp://box", "no port after the host"},
      {"tcp://box:70000", "the port is a number from 1 to 65535"},
      {"rfc2217://:2217", "no host before the port"},
      {"tcp://box:4001\n", "control characters"},
  };
  for (const auto& c : cases) {
    EXPECT_FALSE(CheckRegisterPort(c.port, &problem)) << c.port;
    EXPECT_NE(problem.find(c.says), std::string::npos) << c.port << ": " << problem;
    EXPECT_NE(problem.find("tcp://HOST:PORT, rfc2217://HOST:PORT or a local port"), std::string::npos) << problem;
  }
}

TEST(RegisterPort, EverySpellingOfOneLineIsOneKey) {
  EXPECT_EQ(PortLineKey("tcp://box1.office.lan:4001"), "net:box1.office.lan:4001");
  EXPECT_EQ(PortLineKey("RFC2217://Box1.Office.LAN.:4001"), "net:box1.office.lan:4001");
  EXPECT_EQ(PortLineKey("tcp://[FE80:0::1%eth0]:2217"), "net:[fe80::1%eth0]:2217");
  EXPECT_EQ(PortLineKey("tcp://[::ffff:10.0.0.1]:2217"), PortLineKey("rfc2217://[0:0::FFFF:10.0.0.1]:2217"));
  EXPECT_EQ(PortLineKey("tcp://10.0.0.1:4001"), "net:10.0.0.1:4001");
  EXPECT_NE(PortLineKey("tcp://box1:4001"), PortLineKey("tcp://box1:4002"));
  EXPECT_NE(PortLineKey("tcp://box1:4001"), PortLineKey("tcp://box2:4001"));
  EXPECT_EQ(PortLineKey("ttyUSB7"), PortLineKey("/dev/ttyUSB7"));
  EXPECT_EQ(PortLineKey("COM40"), "local:/dev/ttyS39");

  // A link to a device (by-id names) reaches the device's line.
  TempDir dir;
  const std::string device = dir.File("ttyFAKE0");
  ASSERT_TRUE(WriteFileBytes(device, ""));
  ASSERT_EQ(symlink(device.c_str(), dir.File("usb-FTDI_FT232R-if00-port0").c_str()), 0);
  EXPECT_EQ(PortLineKey(dir.File("usb-FTDI_FT232R-if00-port0")), PortLineKey(device));
}

}  // namespace
