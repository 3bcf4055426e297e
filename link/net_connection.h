#pragma once
// A byte connection to a serial device server, as a protocol above it (the
// Telnet of RFC 2217, rfc2217_line.h) uses it: the TCP line's socket, or a
// connection in memory for the fuzz targets.
#include <cstdint>

class NetConnection {
 public:
  virtual ~NetConnection();
  // Stores up to `count` bytes that arrive within waitMs; gives their
  // number, 0 when none came, -1 when the connection closed or failed.
  virtual int32_t Receive(void* buffer, int32_t count, int waitMs) = 0;
  // Sends `count` bytes within waitMs; gives the number sent, or -1 when the
  // connection failed before any went.
  virtual int32_t Send(const void* bytes, int32_t count, int waitMs) = 0;
  // Bytes that arrived and wait to be received; -1 on failure.
  virtual int32_t Pending() = 0;
};
