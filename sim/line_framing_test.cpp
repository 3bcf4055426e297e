#include "sim/line_framing.h"

#include <gtest/gtest.h>

#include <vector>

using namespace telnet;

namespace {

using Bytes = std::vector<uint8_t>;

TEST(RawFraming, BytesPassAsTheyAre) {
  RawFraming raw;
  Bytes heard, reply, out;
  const Bytes bytes = {0xFF, 0xFB, 0x2C, 0x00, 0x0A};
  raw.FromHost(bytes.data(), bytes.size(), &heard, &reply);
  raw.ToHost(bytes.data(), bytes.size(), &out);
  EXPECT_EQ(bytes, heard);
  EXPECT_EQ(bytes, out);
  EXPECT_TRUE(reply.empty());
}

// The host's side as the RFC 2217 line speaks it, byte for byte.
Bytes HostOpening() {
  Bytes bytes;
  TelnetNegotiate(kWill, kComPort, &bytes);
  TelnetNegotiate(kWill, kBinary, &bytes);
  TelnetNegotiate(kDo, kBinary, &bytes);
  TelnetNegotiate(kDo, kEcho, &bytes);
  return bytes;
}

TEST(Rfc2217Framing, TakesUpTheOptionAndConfirmsEachSetting) {
  LineSettings settings;
  Rfc2217Framing framing(&settings);
  Bytes heard, reply;
  Bytes opening = HostOpening();
  framing.FromHost(opening.data(), opening.size(), &heard, &reply);
  EXPECT_TRUE(heard.empty());
  EXPECT_EQ((Bytes{kIac, kDo, kComPort, kIac, kDo, kBinary, kIac, kWill, kBinary, kIac, kWont, kEcho}), reply);

  reply.clear();
  Bytes commands;
  TelnetSubnegotiate(kComPort, {kSetBaudRate, 0x00, 0x01, 0xC2, 0x00}, &commands);
  TelnetSubnegotiate(kComPort, {kSetDataSize, 8}, &commands);
  TelnetSubnegotiate(kComPort, {kSetParity, 0}, &commands);  // a query: the value in force
  TelnetSubnegotiate(kComPort, {kSetLineStateMask, 0x0E}, &commands);
  commands.push_back('Z');
  framing.FromHost(commands.data(), commands.size(), &heard, &reply);
  EXPECT_EQ(Bytes{'Z'}, heard);
  Bytes expected;
  TelnetSubnegotiate(kComPort, {101, 0x00, 0x01, 0xC2, 0x00}, &expected);
  TelnetSubnegotiate(kComPort, {102, 8}, &expected);
  TelnetSubnegotiate(kComPort, {103, 0}, &expected);
  TelnetSubnegotiate(kComPort, {110, 0x0E}, &expected);
  EXPECT_EQ(expected, reply);
  EXPECT_EQ(115200u, settings.baud.load());
  EXPECT_EQ(8u, settings.dataBits.load());
  EXPECT_EQ(0u, settings.parity.load());

  Bytes out;
  const Bytes image = {0x01, 0xFF, 0xFF, 0x02};
  framing.ToHost(image.data(), image.size(), &out);
  EXPECT_EQ((Bytes{0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0x02}), out);
}

TEST(Rfc2217Framing, TellsOfAnOverrunOnceWhenTheMaskAsks) {
  for (uint8_t mask : {uint8_t{0x0E}, uint8_t{0x00}}) {
    LineSettings settings;
    Rfc2217Framing framing(&settings, 10);
    Bytes heard, reply, commands = HostOpening();
    TelnetSubnegotiate(kComPort, {kSetLineStateMask, mask}, &commands);
    framing.FromHost(commands.data(), commands.size(), &heard, &reply);
    const Bytes image(8, 'x');
    Bytes out;
    framing.ToHost(image.data(), image.size(), &out);
    EXPECT_EQ(image, out);
    out.clear();
    framing.ToHost(image.data(), image.size(), &out);
    framing.ToHost(image.data(), image.size(), &out);
    Bytes expected = image;
    if (mask) TelnetSubnegotiate(kComPort, {106, kLineOverrun}, &expected);
    expected.insert(expected.end(), image.begin(), image.end());
    EXPECT_EQ(expected, out) << int(mask);
  }
}

TEST(Rfc2217Framing, SettingsBeforeTheOptionAreNotAnswered) {
  LineSettings settings;
  Rfc2217Framing framing(&settings);
  Bytes heard, reply, commands;
  TelnetSubnegotiate(kComPort, {kSetBaudRate, 0, 0, 0x25, 0x80}, &commands);
  framing.FromHost(commands.data(), commands.size(), &heard, &reply);
  EXPECT_TRUE(reply.empty());
  EXPECT_EQ(0u, settings.baud.load());
}

}  // namespace
