#include "server/listen_address.h"

#include <arpa/inet.h>


bool ParseListenAddress(const std::string& text, ListenAddress* address, std::string* err) {
  size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == text.size()) {
    *err = "'" + text + "' is not ADDR:PORT";
    return false;
  }
  std::string host = text.substr(0, colon), port = text.substr(colon + 1);
  if (host.front() == '[') {
    if (host.size() < 3 || host.back() != ']') {
      *err = "'" + text + "': an IPv6 address goes in brackets, [::1]:8640";
      return false;
    }
    host = host.substr(1, host.size() - 2);
  } else if (host.find(':') != std::string::npos) {
    *err = "'" + text + "': an IPv6 address goes in brackets, [::1]:8640";
    return false;
  }
  if (port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos || std::stoi(port) > 65535) {
    *err = "'" + text + "': the port is not a number from 0 to 65535";
    return false;
  }
  in6_addr v6;
  in_addr v4;
  if (host != "localhost" && inet_pton(AF_INET, host.c_str(), &v4) != 1 &&
      inet_pton(AF_INET6, host.c_str(), &v6) != 1) {
    *err = "'" + host + "' is not an IP address";
    return false;
  }
  address->host = host;
  address->port = std::stoi(port);
  return true;
}
