#pragma once
// One line per request on standard error, for journald:
//   2024-05-01T10:00:00.123Z shop-1 POST /api/v1/dumps 200 in=2101247 out=312 0.184s
// the time (UTC), the token's name ("-" for none or an unknown token), the
// method, the path without its query, the status, the bytes of the request's
// body and of the answer's, and the time from the headers to the answer
// ("-" where the headers never came whole). Never a token: the query, where
// a careless client might put one, is left out, and every byte of the path
// other than printable ASCII is written as %XX, so a path can neither break
// the line nor forge another.
#include <cstdint>
#include <string>

struct RequestLogEntry {
  std::string tokenName;
  std::string method;
  std::string path;
  int status = 0;
  uint64_t bytesIn = 0;
  uint64_t bytesOut = 0;
  double seconds = -1;  // < 0: unknown
};

std::string RequestLogLine(const RequestLogEntry& entry, int64_t unixMillis);
// The line for now on standard error, written whole.
void LogRequest(const RequestLogEntry& entry);
