#pragma once
// The address of a taxoscope-server as the clients take it:
// http[s]://HOST[:PORT][/PREFIX], an IPv6 host in brackets. The dumps go to
// PREFIX/api/v1/dumps (a reverse proxy may put the server under a prefix).
// Plain http is taken for a loopback host only: elsewhere a token would
// cross the network readable by anyone on the way.
#include <string>

struct ServerUrl {
  bool https = true;
  std::string host;  // without brackets
  int port = 443;
  std::string prefix;  // "" or "/path" without a trailing '/'
};

// False with the reason for a text that is no such address.
bool ParseServerUrl(const std::string& text, ServerUrl* url, std::string* err);

// 127.0.0.0/8, ::1 (any spelling of it), ::ffff:127.x.y.z or "localhost".
bool IsLoopbackHost(const std::string& host);

// "https://host:port" (brackets around an IPv6 host), for messages and libraries.
std::string UrlOrigin(const ServerUrl& url);
