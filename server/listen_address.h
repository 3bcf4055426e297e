#pragma once
// Where the server listens: "ADDR:PORT", an IPv6 address in brackets
// ("[::1]:8640"). Port 0 takes any free port (the tests' way to a port
// chosen at run time).
#include <string>

struct ListenAddress {
  std::string host;  // without brackets
  int port = 0;
};

constexpr char kDefaultListen[] = "127.0.0.1:8640";

// False with the reason in *err for a text that is no ADDR:PORT.
bool ParseListenAddress(const std::string& text, ListenAddress* address, std::string* err);

// Only a loopback address (IsLoopbackHost) may serve plain HTTP without
// saying so.
#include "send/server_url.h"
