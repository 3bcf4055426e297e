// The log line: every field where it belongs, and nothing a client sends can
// break it into two lines or hide in it.
#include <gtest/gtest.h>

#include "server/request_log.h"

namespace {

TEST(RequestLog, OneLineWithEveryField) {
  RequestLogEntry entry;
  entry.tokenName = "shop-1";
  entry.method = "POST";
  entry.path = "/api/v1/dumps";
  entry.status = 200;
  entry.bytesIn = 2101247;
  entry.bytesOut = 312;
  entry.seconds = 0.1844;
  EXPECT_EQ("2024-05-01T10:00:00.123Z shop-1 POST /api/v1/dumps 200 in=2101247 out=312 0.184s\n",
            RequestLogLine(entry, 1714557600123));
}

TEST(RequestLog, PathsAreWrittenAsPrintableAsciiOnly) {
  RequestLogEntry entry;
  entry.path = "/devices/a b\nforged 200\r%<Каса>";
  entry.status = 404;
  const std::string line = RequestLogLine(entry, 0);
  EXPECT_EQ("1970-01-01T00:00:00.000Z - - /devices/a%20b%0Aforged%20200%0D%25<%D0%9A%D0%B0%D1%81%D0%B0> 404 in=0 "
            "out=0 -\n",
            line);
}

}  // namespace
