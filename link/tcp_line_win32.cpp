// The TCP line's socket over Winsock: non-blocking, every wait a select()
// (WSAPoll is newer than the systems the program runs on).
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstring>

#include "link/port_timeouts.h"
#include "link/tcp_line.h"

namespace {

SOCKET Socket(intptr_t socket) { return static_cast<SOCKET>(socket); }

// Winsock is started once, on the first connection, and left to the
// process's end.
bool StartWinsock(int* error) {
  static int started = -1;
  if (started < 0) {
    WSADATA data;
    started = WSAStartup(MAKEWORD(2, 2), &data);
  }
  *error = started;
  return started == 0;
}

std::string SystemText(int error) {
  char text[512] = "";
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                static_cast<DWORD>(error), 0, text, sizeof text, nullptr);
  while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r' || text[length - 1] == ' '))
    text[--length] = '\0';
  if (length == 0) return "error " + std::to_string(error);
  return text;
}

// Waits until the socket is readable (or writable) or the time is up: 1, 0
// on time-out, -1 on failure. A failed connection attempt shows as an
// exception.
int WaitFor(SOCKET socket, bool write, int waitMs) {
  fd_set ready, failed;
  FD_ZERO(&ready);
  FD_ZERO(&failed);
  FD_SET(socket, &ready);
  FD_SET(socket, &failed);
  timeval time;
  time.tv_sec = waitMs / 1000;
  time.tv_usec = (waitMs % 1000) * 1000;
  int count = select(0, write ? nullptr : &ready, write ? &ready : nullptr, &failed, &time);
  if (count == SOCKET_ERROR) return -1;
  return count > 0 ? 1 : 0;
}

// Connects one socket to one address within waitMs: 0, or the Winsock error
// (WSAETIMEDOUT when the time ran out first).
int ConnectOne(SOCKET socket, const addrinfo* address, int waitMs) {
  u_long nonBlocking = 1;
  if (ioctlsocket(socket, FIONBIO, &nonBlocking) != 0) return WSAGetLastError();
  if (connect(socket, address->ai_addr, static_cast<int>(address->ai_addrlen)) == 0) return 0;
  int error = WSAGetLastError();
  if (error != WSAEWOULDBLOCK) return error;
  int ready = WaitFor(socket, true, waitMs);
  if (ready == 0) return WSAETIMEDOUT;
  if (ready < 0) return WSAGetLastError();
  int soError = 0;
  int length = sizeof soError;
  if (getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soError), &length) != 0)
    return WSAGetLastError();
  return soError;
}

}  // namespace

std::unique_ptr<TcpLine> TcpLine::Connect(const std::string& host, uint16_t port, std::string* why) {
  int error = 0;
  if (!StartWinsock(&error)) {
    if (why) *why = "no network (" + SystemText(error) + ")";
    return nullptr;
  }
  addrinfo hints;
  std::memset(&hints, 0, sizeof hints);
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  addrinfo* found = nullptr;
  int status = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
  if (status != 0) {
    if (why) *why = "the host " + host + " is not known (" + SystemText(status) + ")";
    return nullptr;
  }

  const auto deadline =
      port_timeouts::Clock::now() + std::chrono::milliseconds(kConnectTimeoutMs);
  for (const addrinfo* address = found; address && error != WSAETIMEDOUT; address = address->ai_next) {
    SOCKET socket = ::socket(address->ai_family, address->ai_socktype, address->ai_protocol);
    if (socket == INVALID_SOCKET) {
      error = WSAGetLastError();
      continue;
    }
    error = ConnectOne(socket, address, port_timeouts::MsUntil(deadline));
    if (error == 0) {
      freeaddrinfo(found);
      // Frames are a few bytes each and the device waits for them whole.
      BOOL on = TRUE;
      setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
      return std::unique_ptr<TcpLine>(new TcpLine(static_cast<intptr_t>(socket)));
    }
    closesocket(socket);
  }
  freeaddrinfo(found);
  if (why) *why = ConnectFailure(error == WSAETIMEDOUT, error == WSAECONNREFUSED, SystemText(error));
  return nullptr;
}

TcpLine::~TcpLine() { closesocket(Socket(socket_)); }

int32_t TcpLine::Receive(void* buffer, int32_t count, int waitMs) {
  if (count <= 0) return 0;
  int ready = WaitFor(Socket(socket_), false, waitMs);
  if (ready < 0) return -1;
  if (ready == 0) return 0;
  int got = recv(Socket(socket_), static_cast<char*>(buffer), count, 0);
  if (got > 0) return got;
  if (got == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK) return 0;
  return -1;  // closed by the server (0) or failed
}

int32_t TcpLine::Send(const void* bytes, int32_t count, int waitMs) {
  const char* data = static_cast<const char*>(bytes);
  const auto deadline = port_timeouts::Clock::now() + std::chrono::milliseconds(waitMs);
  int32_t sent = 0;
  while (sent < count) {
    int n = send(Socket(socket_), data + sent, count - sent, 0);
    if (n > 0) {
      sent += n;
      continue;
    }
    if (n == SOCKET_ERROR && WSAGetLastError() != WSAEWOULDBLOCK) return sent ? sent : -1;
    int wait = port_timeouts::MsUntil(deadline);
    if (wait == 0 || WaitFor(Socket(socket_), true, wait) <= 0) break;
  }
  return sent;
}

int32_t TcpLine::Pending() {
  u_long waiting = 0;
  if (ioctlsocket(Socket(socket_), FIONREAD, &waiting) != 0) return -1;
  return static_cast<int32_t>(waiting);
}
