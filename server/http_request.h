#pragma once
// A request as the server's handlers see it, whatever carried it: the
// method, the path (percent-decoded), the query, the headers by name in any
// case, the client's address, and the body of a request that takes one.
// The HTTP library stays behind this (server/http_server.cpp).
#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "server/api_answers.h"

struct HeaderNameLess {
  bool operator()(const std::string& a, const std::string& b) const;
};
using HttpHeaders = std::multimap<std::string, std::string, HeaderNameLess>;

struct HttpRequest {
  std::string method;  // as sent: "GET", "POST", ...
  std::string path;    // without the query, every %XX decoded
  QueryParams query;   // each key and value decoded, '+' as a space
  HttpHeaders headers;
  std::string remoteAddress;
  int remotePort = 0;
  std::vector<uint8_t> body;  // of a request admitted with a body
  std::chrono::steady_clock::time_point headersAt;  // when its headers were in
  // Who sent it, for the log line: the token's name once it is known.
  std::string client;

  bool HasHeader(const char* name) const { return headers.count(name) > 0; }
  // The first value of the header; empty without one.
  std::string Header(const char* name) const;
};

// Splits a request target ("/path?query") into the decoded path and query.
// False when the target is not an absolute path.
bool ParseRequestTarget(const std::string& target, std::string* path, QueryParams* query);

// Decodes %XX; with plusAsSpace, '+' becomes ' ' (in a query). A '%' not
// followed by two hex digits stays as it is.
std::string PercentDecode(const std::string& text, bool plusAsSpace);

// How a request's body is framed, from its headers, or why it cannot be
// taken: two lengths, a length that is no number, a length beside a
// transfer coding (400), a coding other than chunked alone (501), a POST
// that says neither (411).
struct BodyFraming {
  bool chunked = false;
  bool hasLength = false;
  uint64_t length = 0;
  int refusal = 0;  // the status of a framing refused, else 0
  std::string detail;
  bool HasBody() const { return chunked || length > 0; }
};
BodyFraming FramingOf(const std::string& method, const HttpHeaders& headers);
