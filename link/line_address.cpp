#include "link/line_address.h"

#include <cctype>
#include <cstring>

namespace {

struct Scheme {
  const char* prefix;
  LineKind kind;
};

const Scheme kSchemes[] = {
    {"tcp://", LineKind::Tcp},
    {"rfc2217://", LineKind::Rfc2217},
};

bool StartsWithIgnoringCase(const std::string& text, const char* prefix) {
  size_t length = std::strlen(prefix);
  if (text.size() < length) return false;
  for (size_t i = 0; i < length; ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
  }
  return true;
}

bool IsHostCharacter(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  return std::isalnum(u) || c == '-' || c == '.' || c == '_';
}

// Hexadecimal digits, colons and dots (an IPv4 tail), then an optional zone
// after '%' (fe80::1%eth0).
bool IsIpv6Text(const std::string& host) {
  size_t zone = host.find('%');
  std::string address = host.substr(0, zone);
  if (address.find(':') == std::string::npos) return false;
  for (char c : address) {
    if (!std::isxdigit(static_cast<unsigned char>(c)) && c != ':' && c != '.') return false;
  }
  if (zone == std::string::npos) return true;
  std::string name = host.substr(zone + 1);
  if (name.empty()) return false;
  for (char c : name) {
    if (!IsHostCharacter(c)) return false;
  }
  return true;
}

bool ParsePort(const std::string& text, uint16_t* port) {
  if (text.empty() || text.size() > 5) return false;
  unsigned long value = 0;
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    value = value * 10 + static_cast<unsigned long>(c - '0');
  }
  if (value < 1 || value > 65535) return false;
  *port = static_cast<uint16_t>(value);
  return true;
}

}  // namespace

LineKind LineKindOf(const std::string& name) {
  for (const Scheme& scheme : kSchemes) {
    if (StartsWithIgnoringCase(name, scheme.prefix)) return scheme.kind;
  }
  return LineKind::Serial;
}

bool ParseLineAddress(const std::string& name, LineAddress* address, std::string* error) {
  auto fail = [&](const std::string& why) {
    if (error) *error = name + ": " + why;
    return false;
  };
  const Scheme* scheme = nullptr;
  for (const Scheme& candidate : kSchemes) {
    if (StartsWithIgnoringCase(name, candidate.prefix)) scheme = &candidate;
  }
  if (!scheme) return fail("not a network address (tcp://HOST:PORT or rfc2217://HOST:PORT)");
  const std::string form = std::string(scheme->prefix) + "HOST:PORT";
  std::string rest = name.substr(std::strlen(scheme->prefix));

  std::string host, portText;
  if (!rest.empty() && rest[0] == '[') {
    size_t close = rest.find(']');
    if (close == std::string::npos) return fail("the IPv6 address has no closing ']'");
    host = rest.substr(1, close - 1);
    if (!IsIpv6Text(host)) return fail("'" + host + "' is not an IPv6 address");
    if (close + 1 >= rest.size() || rest[close + 1] != ':') return fail("no port after the host (" + form + ")");
    portText = rest.substr(close + 2);
  } else {
    size_t colon = rest.rfind(':');
    if (colon == std::string::npos) return fail("no port after the host (" + form + ")");
    host = rest.substr(0, colon);
    portText = rest.substr(colon + 1);
    if (host.find(':') != std::string::npos) {
      return fail("an IPv6 address goes in brackets (" + std::string(scheme->prefix) + "[" + host +
                  "]:" + portText + ")");
    }
    for (char c : host) {
      if (!IsHostCharacter(c)) return fail("'" + host + "' is not a host name or address");
    }
  }
  if (host.empty()) return fail("no host before the port (" + form + ")");
  uint16_t port = 0;
  if (!ParsePort(portText, &port)) return fail("the port is a number from 1 to 65535 (" + form + ")");

  address->kind = scheme->kind;
  address->host = host;
  address->port = port;
  return true;
}

std::string HostAndPort(const std::string& host, uint16_t port) {
  bool ipv6 = host.find(':') != std::string::npos;
  return (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}
