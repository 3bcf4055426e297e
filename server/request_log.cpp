#include "server/request_log.h"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace {

std::string Printable(const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (char c : text) {
    unsigned char byte = static_cast<unsigned char>(c);
    if (byte > 0x20 && byte < 0x7F && byte != '%') {
      out += c;
    } else {
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 15];
    }
  }
  return out.empty() ? "-" : out;
}

}  // namespace

std::string RequestLogLine(const RequestLogEntry& entry, int64_t unixMillis) {
  std::time_t seconds = static_cast<std::time_t>(unixMillis / 1000);
  std::tm utc = {};
  gmtime_r(&seconds, &utc);
  char time[64];
  std::snprintf(time, sizeof time, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<int>(unixMillis % 1000));
  char duration[32] = "-";
  if (entry.seconds >= 0) std::snprintf(duration, sizeof duration, "%.3fs", entry.seconds);
  return std::string(time) + " " + Printable(entry.tokenName) + " " + Printable(entry.method) + " " +
         Printable(entry.path) + " " + std::to_string(entry.status) + " in=" + std::to_string(entry.bytesIn) +
         " out=" + std::to_string(entry.bytesOut) + " " + duration + "\n";
}

void LogRequest(const RequestLogEntry& entry) {
  const int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::system_clock::now().time_since_epoch())
                          .count();
  const std::string line = RequestLogLine(entry, now);
  // One write per line: lines of threads side by side never interleave.
  std::fwrite(line.data(), 1, line.size(), stderr);
}
