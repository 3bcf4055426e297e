// Server addresses as the clients take them, and the one rule that keeps a
// token off the network in clear text: plain http to this machine only.
#include <gtest/gtest.h>

#include "send/dump_sender.h"
#include "send/server_url.h"

namespace {

TEST(ServerUrl, HttpsAnywhereHttpOnlyToThisMachine) {
  ServerUrl url;
  std::string err;
  ASSERT_TRUE(ParseServerUrl("https://office.example:8640/taxoscope/", &url, &err)) << err;
  EXPECT_TRUE(url.https);
  EXPECT_EQ("office.example", url.host);
  EXPECT_EQ(8640, url.port);
  EXPECT_EQ("/taxoscope", url.prefix);
  ASSERT_TRUE(ParseServerUrl("https://10.0.0.5", &url, &err)) << err;
  EXPECT_EQ(443, url.port);
  EXPECT_EQ("", url.prefix);
  ASSERT_TRUE(ParseServerUrl("http://127.0.0.1:8640", &url, &err)) << err;
  EXPECT_FALSE(url.https);
  ASSERT_TRUE(ParseServerUrl("http://[::1]:8640", &url, &err)) << err;
  EXPECT_EQ("::1", url.host);
  EXPECT_EQ("http://[::1]:8640", UrlOrigin(url));
  ASSERT_TRUE(ParseServerUrl("http://localhost", &url, &err)) << err;
  EXPECT_EQ(80, url.port);

  for (const char* refused : {"http://office.example:8640", "http://10.0.0.5", "http://[2001:db8::1]", "ftp://x",
                              "office.example", "https://", "https://user:pw@host", "https://host:0",
                              "https://host:99999", "https://host:", "https://host/x?token=1", "https://[::1"})
    EXPECT_FALSE(ParseServerUrl(refused, &url, &err)) << refused;
}

TEST(ServerUrl, LoopbackInEverySpelling) {
  for (const char* host : {"127.0.0.1", "127.1.2.3", "::1", "0:0:0:0:0:0:0:1", "::ffff:127.0.0.1", "LOCALHOST"})
    EXPECT_TRUE(IsLoopbackHost(host)) << host;
  for (const char* host : {"128.0.0.1", "10.0.0.1", "::2", "::", "1::1", "::ffff:10.0.0.1", "127.0.0", "localhost.",
                           "example.org", "", "127.0.0.1.5"})
    EXPECT_FALSE(IsLoopbackHost(host)) << host;
}

TEST(DumpSender, NamesAndDevicesTravelAsPercentEncodedText) {
  EXPECT_EQ("DV000001.bin", PercentEncode("DV000001.bin", false));
  EXPECT_EQ("%D0%9A%D0%B0%D1%81%D0%B0%201.bin", PercentEncode("Каса 1.bin", false));
  EXPECT_EQ("a%0D%0AX-Forged:%201", PercentEncode("a\r\nX-Forged: 1", false));
  EXPECT_EQ("..%2F..%2Fetc%2Fpasswd", PercentEncode("../../etc/passwd", true));
  EXPECT_EQ("a%26device%3Db", PercentEncode("a&device=b", true));
}

}  // namespace
