#include "link/line_quiet.h"

#include <chrono>

#include "link/port_timeouts.h"
#include "link/tcp_line.h"
#include "link/telnet.h"

namespace {

using port_timeouts::Clock;
using std::chrono::milliseconds;

// What is kept of the server's first words for a message.
constexpr size_t kSaidKept = 120;

bool IsTelnetNegotiation(const std::vector<uint8_t>& first) {
  if (first.size() < 2 || first[0] != telnet::kIac) return false;
  const uint8_t verb = first[1];
  return verb == telnet::kWill || verb == telnet::kWont || verb == telnet::kDo || verb == telnet::kDont;
}

// The server's words as one line of text, or "" when they are no text.
std::string AsText(const std::vector<uint8_t>& said) {
  std::string text;
  for (uint8_t byte : said) {
    if (byte == '\r' || byte == '\n' || byte == '\t') {
      if (!text.empty() && text.back() != ' ') text += ' ';
    } else if (byte >= 0x20 && byte < 0x7F) {
      text += static_cast<char>(byte);
    } else {
      return std::string();
    }
  }
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

}  // namespace

std::string ClosedByServer(const std::vector<uint8_t>& said) {
  if (said.empty()) {
    return "the device server closed the connection at once (is its port in use by another program?)";
  }
  std::string text = AsText(said);
  if (text.empty()) return "the device server closed the connection";
  return "the device server refused the connection: \"" + text + "\"";
}

bool AwaitQuiet(const QuietReceive& receive, bool raw, const StopCheck& stop, std::string* why) {
  auto fail = [&](const std::string& reason) {
    if (why) *why = reason;
    return false;
  };
  const Clock::time_point limit = Clock::now() + milliseconds(kQuietLimitMs);
  Clock::time_point quietFrom = Clock::now();
  std::vector<uint8_t> said;  // the first bytes of the connection
  bool looked = !raw;         // whether the first bytes were looked at for Telnet
  uint8_t chunk[512];
  for (;;) {
    if (stop && stop()) return fail(kOpeningStopped);
    const Clock::time_point now = Clock::now();
    if (now - quietFrom >= milliseconds(kQuietMs)) return true;
    if (now >= limit) {
      return fail("the device is still sending after " + std::to_string(kQuietLimitMs / 1000) +
                  " seconds (the rest of a read that was stopped?): read again once it is done");
    }
    int wait = port_timeouts::MsUntil(quietFrom + milliseconds(kQuietMs));
    if (wait > kStopSliceMs) wait = kStopSliceMs;
    int32_t got = receive(chunk, static_cast<int32_t>(sizeof chunk), wait);
    if (got < 0) return fail(ClosedByServer(said));
    if (got == 0) continue;
    quietFrom = Clock::now();
    for (int32_t i = 0; i < got && said.size() < kSaidKept; ++i) said.push_back(chunk[i]);
    if (!looked && said.size() >= 2) {
      if (IsTelnetNegotiation(said)) return fail("this port speaks Telnet: use rfc2217://HOST:PORT");
      looked = true;
    }
  }
}
