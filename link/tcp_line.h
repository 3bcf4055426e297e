#pragma once
// A raw TCP connection to a serial device server as the line to the device:
// the bytes on the connection are the bytes on the serial line, and the line
// runs at whatever speed the server is set to. tcp_line_posix.cpp and
// tcp_line_win32.cpp hold the sockets (POSIX, Winsock); the time-outs of a
// serial port are kept over them here.
#include <cstdint>
#include <memory>
#include <string>

#include "link/device_line.h"

class TcpLine : public DeviceLine {
 public:
  // How long a connection may take to open before it is given up.
  static constexpr int kConnectTimeoutMs = 5000;

  // Connects to host:port (a name or an address; every address of a name is
  // tried in turn). Null when no connection came about within
  // kConnectTimeoutMs; *why then says why: a name that is not known, a
  // refused connection, no answer, or the system's reason.
  static std::unique_ptr<TcpLine> Connect(const std::string& host, uint16_t port,
                                          std::string* why);
  ~TcpLine() override;

  // The serial port's time-outs over the connection; a connection closed
  // by the server fails the read, like a line that hangs up.
  int32_t Read(void* buffer, int32_t count) override;
  int32_t Write(const void* bytes, int32_t count) override;
  // The bytes received and not yet read.
  int32_t InputWaiting() override;
  bool SetsSpeed() const override { return false; }

  // The connection itself, for a protocol above it (rfc2217_line.h).
  // Stores up to `count` bytes that arrive within waitMs; gives their number,
  // 0 when none came, -1 when the connection closed or failed.
  int32_t Receive(void* buffer, int32_t count, int waitMs);
  // Sends `count` bytes within waitMs; gives the number sent, or -1 when the
  // connection failed before any went.
  int32_t Send(const void* bytes, int32_t count, int waitMs);
  // Bytes that arrived and wait to be received; -1 on failure.
  int32_t Pending();

 private:
  explicit TcpLine(intptr_t socket) : socket_(socket) {}
  // Why no connection came about, in the same words on every platform; the
  // system's own text only for the other failures.
  static std::string ConnectFailure(bool timedOut, bool refused, const std::string& systemText);
  intptr_t socket_;
};
