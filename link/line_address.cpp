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

const char kAcceptedForms[] =
    "the forms accepted are tcp://HOST:PORT (raw TCP) and rfc2217://HOST:PORT (Telnet with RFC 2217)";

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Letters and digits (and + . -) from a letter on, then ':' and '/': the
// start of an address of some scheme ("telnet://", "tcp:/"). A drive letter
// ("C:/") is one letter, not a scheme.
bool HasSchemeLikeStart(const std::string& name) {
  size_t i = 0;
  if (name.empty() || !std::isalpha(static_cast<unsigned char>(name[0]))) return false;
  while (i < name.size() && (std::isalnum(static_cast<unsigned char>(name[i])) || name[i] == '+' ||
                             name[i] == '.' || name[i] == '-'))
    ++i;
  return i >= 2 && i + 1 < name.size() && name[i] == ':' && name[i + 1] == '/';
}

// tcp: or rfc2217: without the two slashes ("tcp:host:4001", "tcp:/host:4001").
bool IsKnownSchemeMisspelt(const std::string& name) {
  for (const char* word : {"tcp:", "rfc2217:"}) {
    if (StartsWithIgnoringCase(name, word)) return true;
  }
  return false;
}

std::string Trimmed(const std::string& name) {
  size_t from = 0, to = name.size();
  while (from < to && IsBlank(name[from])) ++from;
  while (to > from && IsBlank(name[to - 1])) --to;
  return name.substr(from, to - from);
}

// What is wrong with a malformed address, and the forms accepted.
std::string MalformedReason(const std::string& name) {
  const std::string trimmed = Trimmed(name);
  if (trimmed != name && LineKindOf(trimmed) != LineKind::Serial) {
    return "blanks around the address '" + trimmed + "'; " + std::string(kAcceptedForms);
  }
  size_t separator = name.find("://");
  if (separator != std::string::npos) {
    std::string scheme = name.substr(0, separator + 3);
    std::string hint;
    if (StartsWithIgnoringCase(scheme, "telnet://")) hint = " (a Telnet port with RFC 2217 is read as rfc2217://)";
    return "'" + scheme + "' is not a kind of address this program reads" + hint + "; " + kAcceptedForms;
  }
  return "not written as a network address; " + std::string(kAcceptedForms);
}

}  // namespace

LineKind LineKindOf(const std::string& name) {
  const std::string trimmed = Trimmed(name);
  if (trimmed != name && !trimmed.empty() && LineKindOf(trimmed) != LineKind::Serial)
    return LineKind::Malformed;
  for (const Scheme& scheme : kSchemes) {
    if (StartsWithIgnoringCase(name, scheme.prefix)) return scheme.kind;
  }
  if (name.find("://") != std::string::npos || HasSchemeLikeStart(name) || IsKnownSchemeMisspelt(name))
    return LineKind::Malformed;
  return LineKind::Serial;
}

bool ParseLineAddress(const std::string& name, LineAddress* address, std::string* error) {
  auto fail = [&](const std::string& why) {
    if (error) *error = name + ": " + why;
    return false;
  };
  if (LineKindOf(name) == LineKind::Malformed) return fail(MalformedReason(name));
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
