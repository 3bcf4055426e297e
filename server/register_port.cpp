#include "server/register_port.h"

#include <arpa/inet.h>
#include <limits.h>
#include <stdlib.h>

#include <cctype>
#include <vector>

#include "link/com_names.h"
#include "link/line_address.h"

namespace {

const char kForms[] = "tcp://HOST:PORT, rfc2217://HOST:PORT or a local port (/dev/ttyS0, ttyUSB0, COM1)";

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// "word:/" or "word:" then a digit-free rest: written as an address of a
// scheme this program does not speak, or with a slash too few.
bool LooksLikeAnAddress(const std::string& port) {
  size_t i = 0;
  while (i < port.size() && (std::isalnum(static_cast<unsigned char>(port[i])) || port[i] == '+' ||
                             port[i] == '-' || port[i] == '.'))
    ++i;
  return i > 0 && std::isalpha(static_cast<unsigned char>(port[0])) && i + 1 < port.size() && port[i] == ':' &&
         port[i + 1] == '/';
}

// An IP address in its one written form; a name in lower case, without the
// root's dot.
std::string CanonicalHost(const std::string& host) {
  const size_t zone = host.find('%');
  const std::string address = host.substr(0, zone);
  unsigned char bytes[16];
  char text[INET6_ADDRSTRLEN];
  if (inet_pton(AF_INET6, address.c_str(), bytes) == 1 && inet_ntop(AF_INET6, bytes, text, sizeof text))
    return std::string(text) + (zone == std::string::npos ? "" : host.substr(zone));
  if (inet_pton(AF_INET, host.c_str(), bytes) == 1 && inet_ntop(AF_INET, bytes, text, sizeof text)) return text;
  std::string name = Lower(host);
  while (name.size() > 1 && name.back() == '.') name.pop_back();
  return name;
}

}  // namespace

bool CheckRegisterPort(const std::string& port, std::string* problem) {
  auto fail = [&](const std::string& why) {
    *problem = why + "; a port is " + kForms;
    return false;
  };
  if (port.empty()) return fail("the port is empty");
  for (char c : port) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return fail("'" + port + "' has control characters");
  }
  if (port.front() == ' ' || port.back() == ' ') return fail("'" + port + "' has blanks around it");
  const LineKind kind = LineKindOf(port);
  if (kind == LineKind::Malformed) return fail("'" + port + "' is no address this program reads");
  if (kind != LineKind::Serial) {
    LineAddress address;
    std::string error;
    if (!ParseLineAddress(port, &address, &error)) return fail(error);
    return true;
  }
  if (LooksLikeAnAddress(port)) return fail("'" + port + "' is no address this program reads");
  // A device name has no colon; HOST:PORT lacks its scheme.
  if (port.find('/') == std::string::npos && port.find(':') != std::string::npos)
    return fail("'" + port + "' is no local port (a device server's port is tcp://" + port + " or rfc2217://" +
                port + ")");
  return true;
}

std::string PortLineKey(const std::string& port) {
  LineAddress address;
  if (LineKindOf(port) != LineKind::Serial && ParseLineAddress(port, &address, nullptr))
    return "net:" + HostAndPort(CanonicalHost(address.host), address.port);
  const std::vector<std::string> paths = PosixPortPaths(port);
  const std::string path = paths.empty() ? port : paths.front();
  char resolved[PATH_MAX];
  if (realpath(path.c_str(), resolved)) return std::string("local:") + resolved;
  return "local:" + path;
}
