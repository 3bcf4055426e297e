#include "send/server_url.h"

#include <cctype>
#include <cstdlib>
#include <vector>

namespace {

bool IsDottedQuad(const std::string& text, int* first) {
  int parts = 0;
  size_t at = 0;
  while (at <= text.size()) {
    size_t end = text.find('.', at);
    if (end == std::string::npos) end = text.size();
    const std::string part = text.substr(at, end - at);
    if (part.empty() || part.size() > 3 || part.find_first_not_of("0123456789") != std::string::npos ||
        std::atoi(part.c_str()) > 255)
      return false;
    if (parts == 0) *first = std::atoi(part.c_str());
    ++parts;
    at = end + 1;
  }
  return parts == 4;
}

// The 16 bytes of an IPv6 address text (with "::" and a dotted tail); false
// for anything else.
bool ParseIpv6(const std::string& text, unsigned char bytes[16]) {
  std::vector<int> head, tail;
  std::vector<int>* groups = &head;
  size_t at = 0;
  bool gap = false;
  if (text.compare(0, 2, "::") == 0) {
    gap = true;
    groups = &tail;
    at = 2;
  }
  while (at < text.size()) {
    size_t end = text.find(':', at);
    const std::string part = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
    int first = 0;
    if (part.find('.') != std::string::npos && end == std::string::npos && IsDottedQuad(part, &first)) {
      int quad[4];
      size_t from = 0;
      for (int& value : quad) {
        size_t dot = part.find('.', from);
        value = std::atoi(part.substr(from, dot - from).c_str());
        from = dot + 1;
      }
      groups->push_back(quad[0] << 8 | quad[1]);
      groups->push_back(quad[2] << 8 | quad[3]);
      break;
    }
    if (part.empty() || part.size() > 4 || part.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
      return false;
    groups->push_back(static_cast<int>(std::strtol(part.c_str(), nullptr, 16)));
    if (end == std::string::npos) break;
    at = end + 1;
    if (at < text.size() && text[at] == ':') {
      if (gap) return false;
      gap = true;
      groups = &tail;
      ++at;
    } else if (at == text.size()) {
      return false;
    }
  }
  const size_t count = head.size() + tail.size();
  if (gap ? count > 7 : count != 8) return false;
  std::vector<int> all = head;
  all.resize(8 - tail.size(), 0);
  all.insert(all.end(), tail.begin(), tail.end());
  for (int i = 0; i < 8; ++i) {
    bytes[2 * i] = static_cast<unsigned char>(all[i] >> 8);
    bytes[2 * i + 1] = static_cast<unsigned char>(all[i] & 0xFF);
  }
  return true;
}

}  // namespace

bool IsLoopbackHost(const std::string& host) {
  std::string lower;
  for (char c : host) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (lower == "localhost") return true;
  int first = 0;
  if (IsDottedQuad(lower, &first)) return first == 127;
  unsigned char bytes[16];
  if (!ParseIpv6(lower, bytes)) return false;
  bool zeros = true;
  for (int i = 0; i < 10; ++i) zeros = zeros && bytes[i] == 0;
  if (zeros && bytes[10] == 0 && bytes[11] == 0 && bytes[12] == 0 && bytes[13] == 0 && bytes[14] == 0)
    return bytes[15] == 1;                                        // ::1
  return zeros && bytes[10] == 0xFF && bytes[11] == 0xFF && bytes[12] == 127;  // ::ffff:127.x.y.z
}

bool ParseServerUrl(const std::string& text, ServerUrl* url, std::string* err) {
  std::string rest;
  if (text.compare(0, 8, "https://") == 0) {
    url->https = true;
    url->port = 443;
    rest = text.substr(8);
  } else if (text.compare(0, 7, "http://") == 0) {
    url->https = false;
    url->port = 80;
    rest = text.substr(7);
  } else {
    *err = "'" + text + "' is not an http:// or https:// address";
    return false;
  }
  const size_t slash = rest.find('/');
  std::string authority = rest.substr(0, slash);
  url->prefix = slash == std::string::npos ? std::string() : rest.substr(slash);
  while (!url->prefix.empty() && url->prefix.back() == '/') url->prefix.pop_back();
  if (url->prefix.find_first_of("?#") != std::string::npos || authority.find('@') != std::string::npos) {
    *err = "'" + text + "': give the server's address alone (no user, query or fragment)";
    return false;
  }
  std::string port;
  if (!authority.empty() && authority[0] == '[') {
    const size_t close = authority.find(']');
    if (close == std::string::npos) {
      *err = "'" + text + "': an IPv6 address needs its closing bracket";
      return false;
    }
    url->host = authority.substr(1, close - 1);
    const std::string after = authority.substr(close + 1);
    if (!after.empty() && after[0] != ':') {
      *err = "'" + text + "' is not an address";
      return false;
    }
    if (!after.empty()) port = after.substr(1);
    unsigned char bytes[16];
    if (!ParseIpv6(url->host, bytes)) {
      *err = "'" + url->host + "' is not an IPv6 address";
      return false;
    }
  } else {
    const size_t colon = authority.find(':');
    url->host = authority.substr(0, colon);
    if (colon != std::string::npos) port = authority.substr(colon + 1);
  }
  if (url->host.empty() || url->host.find_first_of(" \t\r\n\\") != std::string::npos) {
    *err = "'" + text + "' names no host";
    return false;
  }
  if (authority.find(':') != std::string::npos && authority.back() == ':') {
    *err = "'" + text + "': the port is missing after ':'";
    return false;
  }
  if (!port.empty()) {
    if (port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos || std::atoi(port.c_str()) < 1 ||
        std::atoi(port.c_str()) > 65535) {
      *err = "'" + text + "': the port is not a number from 1 to 65535";
      return false;
    }
    url->port = std::atoi(port.c_str());
  }
  if (!url->https && !IsLoopbackHost(url->host)) {
    *err = "'" + text + "': plain http only to this machine (127.0.0.1, ::1, localhost); use https";
    return false;
  }
  return true;
}

std::string UrlOrigin(const ServerUrl& url) {
  const bool ipv6 = url.host.find(':') != std::string::npos;
  return std::string(url.https ? "https://" : "http://") + (ipv6 ? "[" + url.host + "]" : url.host) + ":" +
         std::to_string(url.port);
}
