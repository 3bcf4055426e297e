#include "link/line_address.h"

#include <gtest/gtest.h>

#include <string>

namespace {

LineAddress Parsed(const std::string& text) {
  LineAddress address;
  std::string error;
  EXPECT_TRUE(ParseLineAddress(text, &address, &error)) << text << ": " << error;
  return address;
}

std::string Refusal(const std::string& text) {
  LineAddress address;
  std::string error;
  EXPECT_FALSE(ParseLineAddress(text, &address, &error)) << text;
  return error;
}

TEST(LineKindOf, TheSchemeChoosesTheLineWhateverItsCase) {
  EXPECT_EQ(LineKind::Tcp, LineKindOf("tcp://10.0.0.7:4001"));
  EXPECT_EQ(LineKind::Tcp, LineKindOf("TCP://shop-7:4001"));
  EXPECT_EQ(LineKind::Rfc2217, LineKindOf("rfc2217://[::1]:2217"));
  EXPECT_EQ(LineKind::Rfc2217, LineKindOf("RFC2217://x"));
  for (const char* local : {"COM3", "\\\\.\\COM10", "/dev/ttyUSB0", "ttyS0", "tcp", "", "COM3:", "C:/ports/com3",
                            " COM3"}) {
    EXPECT_EQ(LineKind::Serial, LineKindOf(local)) << local;
  }
}

// What is meant as an address but not written as one is never taken for a
// local port: it is named, with the forms accepted.
TEST(LineKindOf, AnAddressMistypedIsNoLocalPort) {
  const std::string forms =
      "the forms accepted are tcp://HOST:PORT (raw TCP) and rfc2217://HOST:PORT (Telnet with RFC 2217)";
  for (const char* typo : {"tcp:/box:4001", "tcp:box:4001", "TCP:/box:1", "telnet://box:23", "raw://box:1",
                           "rfc2217:/box:2217", " tcp://box:4001", "tcp://box:4001 ", "\trfc2217://box:1"}) {
    EXPECT_EQ(LineKind::Malformed, LineKindOf(typo)) << typo;
  }
  EXPECT_EQ("tcp:/box:4001: not written as a network address; " + forms, Refusal("tcp:/box:4001"));
  EXPECT_EQ("telnet://box:23: 'telnet://' is not a kind of address this program reads (a Telnet port "
            "with RFC 2217 is read as rfc2217://); " + forms,
            Refusal("telnet://box:23"));
  EXPECT_EQ("ssh://box:22: 'ssh://' is not a kind of address this program reads; " + forms,
            Refusal("ssh://box:22"));
  EXPECT_EQ(" tcp://box:4001: blanks around the address 'tcp://box:4001'; " + forms,
            Refusal(" tcp://box:4001"));
  EXPECT_EQ("rfc2217://box:1 : blanks around the address 'rfc2217://box:1'; " + forms,
            Refusal("rfc2217://box:1 "));
}

TEST(ParseLineAddress, NamesIpv4AndBracketedIpv6) {
  LineAddress address = Parsed("tcp://192.168.1.50:4001");
  EXPECT_EQ(LineKind::Tcp, address.kind);
  EXPECT_EQ("192.168.1.50", address.host);
  EXPECT_EQ(4001, address.port);

  address = Parsed("rfc2217://serial-box_2.shop.example:65535");
  EXPECT_EQ(LineKind::Rfc2217, address.kind);
  EXPECT_EQ("serial-box_2.shop.example", address.host);
  EXPECT_EQ(65535, address.port);

  address = Parsed("tcp://[2001:db8::7]:1");
  EXPECT_EQ("2001:db8::7", address.host);
  EXPECT_EQ(1, address.port);
  EXPECT_EQ("fe80::1%eth0", Parsed("Rfc2217://[fe80::1%eth0]:2217").host);
  EXPECT_EQ("::ffff:10.0.0.1", Parsed("tcp://[::ffff:10.0.0.1]:4001").host);
}

TEST(ParseLineAddress, EachMistakeIsNamedWithTheForm) {
  EXPECT_EQ("tcp://box: no port after the host (tcp://HOST:PORT)", Refusal("tcp://box"));
  EXPECT_EQ("tcp://:4001: no host before the port (tcp://HOST:PORT)", Refusal("tcp://:4001"));
  EXPECT_EQ("rfc2217://box:0: the port is a number from 1 to 65535 (rfc2217://HOST:PORT)",
            Refusal("rfc2217://box:0"));
  EXPECT_NE(std::string::npos, Refusal("tcp://box:65536").find("from 1 to 65535"));
  EXPECT_NE(std::string::npos, Refusal("tcp://box:40x1").find("from 1 to 65535"));
  EXPECT_NE(std::string::npos, Refusal("tcp://box:").find("from 1 to 65535"));
  EXPECT_NE(std::string::npos, Refusal("tcp://box:4001/").find("from 1 to 65535"));
  EXPECT_EQ("tcp://fe80::1:4001: an IPv6 address goes in brackets (tcp://[fe80::1]:4001)",
            Refusal("tcp://fe80::1:4001"));
  EXPECT_NE(std::string::npos, Refusal("tcp://[::1:4001").find("no closing ']'"));
  EXPECT_NE(std::string::npos, Refusal("tcp://[::1]4001").find("no port"));
  EXPECT_NE(std::string::npos, Refusal("tcp://[box]:4001").find("not an IPv6 address"));
  EXPECT_NE(std::string::npos, Refusal("tcp://my box:4001").find("not a host name"));
  EXPECT_NE(std::string::npos, Refusal("tcp://user@box:4001").find("not a host name"));
  EXPECT_NE(std::string::npos, Refusal("COM3").find("not a network address"));
}

TEST(HostAndPort, Ipv6HostsGoInBrackets) {
  EXPECT_EQ("box:4001", HostAndPort("box", 4001));
  EXPECT_EQ("[::1]:2217", HostAndPort("::1", 2217));
}

}  // namespace
