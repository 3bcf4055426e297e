// The serial port's behaviour over a TCP connection; the sockets themselves
// are in tcp_line_posix.cpp and tcp_line_win32.cpp.
#include "link/tcp_line.h"

#include "link/port_timeouts.h"

int32_t TcpLine::Read(void* buffer, int32_t count) {
  return ReadWithPortTimeouts(
      [this](char* at, int32_t n, int waitMs) { return Receive(at, n, waitMs); }, buffer, count);
}

int32_t TcpLine::Write(const void* bytes, int32_t count) {
  return Send(bytes, count, static_cast<int>(port_timeouts::kWriteTotal.count()));
}

int32_t TcpLine::InputWaiting() { return Pending(); }

std::string TcpLine::ConnectFailure(bool timedOut, bool refused, const std::string& systemText) {
  if (timedOut) return "no answer within " + std::to_string(kConnectTimeoutMs / 1000) + " seconds";
  if (refused) return "the connection was refused (is the device server's port right?)";
  return "cannot connect: " + systemText;
}
