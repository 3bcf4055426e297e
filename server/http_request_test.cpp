#include "server/http_request.h"

#include <gtest/gtest.h>

namespace {

HttpHeaders Headers(std::initializer_list<std::pair<const char*, const char*>> list) {
  HttpHeaders headers;
  for (const auto& header : list) headers.emplace(header.first, header.second);
  return headers;
}

TEST(HttpRequest, TargetsAreDecodedAsTheHandlersSeeThem) {
  std::string path;
  QueryParams query;
  ASSERT_TRUE(ParseRequestTarget("/devices/..%2F..%2Fetc%2Fpasswd", &path, &query));
  EXPECT_EQ("/devices/../../etc/passwd", path);
  EXPECT_TRUE(query.empty());
  ASSERT_TRUE(ParseRequestTarget("/api/v1/months?device=A+B&device=%41%zz&from=01%2F01%2F2024&flag&=x", &path, &query));
  EXPECT_EQ("/api/v1/months", path);
  EXPECT_EQ(2u, query.count("device"));
  auto devices = query.equal_range("device");
  EXPECT_EQ("A B", devices.first->second);
  EXPECT_EQ("A%zz", std::next(devices.first)->second);
  EXPECT_EQ("01/01/2024", query.find("from")->second);
  EXPECT_EQ("", query.find("flag")->second);
  EXPECT_EQ("x", query.find("")->second);
  EXPECT_FALSE(ParseRequestTarget("http://elsewhere/", &path, &query));
  EXPECT_FALSE(ParseRequestTarget("*", &path, &query));
  EXPECT_EQ("100%", PercentDecode("100%", false));
  EXPECT_EQ("a+b", PercentDecode("a+b", false));
}

TEST(HttpRequest, HeaderNamesInAnyCase) {
  HttpRequest request;
  request.headers = Headers({{"content-TYPE", "application/octet-stream"}});
  EXPECT_TRUE(request.HasHeader("Content-Type"));
  EXPECT_EQ("application/octet-stream", request.Header("CONTENT-type"));
  EXPECT_EQ("", request.Header("Authorization"));
}

TEST(HttpRequest, BodiesAreFramedOneWayOrRefused) {
  BodyFraming framing = FramingOf("POST", Headers({{"Content-Length", " 2101247 "}}));
  EXPECT_EQ(0, framing.refusal);
  EXPECT_EQ(2101247u, framing.length);
  EXPECT_TRUE(framing.HasBody());
  framing = FramingOf("POST", Headers({{"Content-Length", "5"}, {"content-length", "5"}}));
  EXPECT_EQ(0, framing.refusal) << "the same length twice is one length";
  framing = FramingOf("POST", Headers({{"Transfer-Encoding", "Chunked"}}));
  EXPECT_EQ(0, framing.refusal);
  EXPECT_TRUE(framing.chunked);
  framing = FramingOf("GET", Headers({}));
  EXPECT_EQ(0, framing.refusal);
  EXPECT_FALSE(framing.HasBody());

  struct Case {
    const char* method;
    HttpHeaders headers;
    int status;
  } refused[] = {
      {"POST", Headers({}), 411},
      {"POST", Headers({{"Content-Length", "5"}, {"Content-Length", "6"}}), 400},
      {"POST", Headers({{"Content-Length", "abc"}}), 400},
      {"POST", Headers({{"Content-Length", "-1"}}), 400},
      {"POST", Headers({{"Content-Length", "+5"}}), 400},
      {"POST", Headers({{"Content-Length", ""}}), 400},
      {"POST", Headers({{"Content-Length", "99999999999999999999"}}), 400},
      {"POST", Headers({{"Content-Length", "5"}, {"Transfer-Encoding", "chunked"}}), 400},
      {"POST", Headers({{"Transfer-Encoding", "gzip, chunked"}}), 501},
      {"POST", Headers({{"Transfer-Encoding", "chunked"}, {"Transfer-Encoding", "chunked"}}), 501},
      {"GET", Headers({{"Transfer-Encoding", "identity"}}), 501},
  };
  for (const Case& c : refused) {
    framing = FramingOf(c.method, c.headers);
    EXPECT_EQ(c.status, framing.refusal) << c.method << " " << c.headers.size();
    EXPECT_FALSE(framing.detail.empty());
  }
}

}  // namespace
