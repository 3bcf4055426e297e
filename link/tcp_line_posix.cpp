// The TCP line's socket over POSIX sockets: non-blocking, every wait a
// poll(), no SIGPIPE when the server has gone.
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "link/port_timeouts.h"
#include "link/tcp_line.h"

namespace {

int Fd(intptr_t socket) { return static_cast<int>(socket); }

// Waits for `events` on fd until the deadline: the revents, 0 on time-out,
// -1 on failure. Signals do not cut the wait short.
int WaitFor(int fd, short events, port_timeouts::Clock::time_point deadline) {
  for (;;) {
    pollfd p = {fd, events, 0};
    int ready = poll(&p, 1, port_timeouts::MsUntil(deadline));
    if (ready > 0) return p.revents;
    if (ready == 0) return 0;
    if (errno != EINTR) return -1;
  }
}

// Connects one socket to one address within the deadline: 0, or the errno
// (ETIMEDOUT when the deadline came first).
int ConnectOne(int fd, const addrinfo* address, port_timeouts::Clock::time_point deadline) {
  if (connect(fd, address->ai_addr, address->ai_addrlen) == 0) return 0;
  if (errno != EINPROGRESS && errno != EINTR) return errno;
  int ready = WaitFor(fd, POLLOUT, deadline);
  if (ready == 0) return ETIMEDOUT;
  if (ready < 0) return errno;
  int error = 0;
  socklen_t length = sizeof error;
  if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return errno;
  return error;
}

}  // namespace

std::unique_ptr<TcpLine> TcpLine::Connect(const std::string& host, uint16_t port, std::string* why) {
  addrinfo hints;
  std::memset(&hints, 0, sizeof hints);
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* found = nullptr;
  int status = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
  if (status != 0) {
    if (why) {
      *why = "the host " + host + " is not known (" +
             (status == EAI_SYSTEM ? std::strerror(errno) : gai_strerror(status)) + ")";
    }
    return nullptr;
  }

  const auto deadline =
      port_timeouts::Clock::now() + std::chrono::milliseconds(kConnectTimeoutMs);
  int error = 0;
  for (const addrinfo* address = found; address && error != ETIMEDOUT; address = address->ai_next) {
    int fd = socket(address->ai_family, address->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                    address->ai_protocol);
    if (fd < 0) {
      error = errno;
      continue;
    }
    error = ConnectOne(fd, address, deadline);
    if (error == 0) {
      freeaddrinfo(found);
      // Frames are a few bytes each and the device waits for them whole.
      int on = 1;
      setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
      return std::unique_ptr<TcpLine>(new TcpLine(fd));
    }
    close(fd);
  }
  freeaddrinfo(found);
  if (why) *why = ConnectFailure(error == ETIMEDOUT, error == ECONNREFUSED, std::strerror(error));
  return nullptr;
}

TcpLine::~TcpLine() { close(Fd(socket_)); }

int32_t TcpLine::Receive(void* buffer, int32_t count, int waitMs) {
  if (count <= 0) return 0;
  pollfd p = {Fd(socket_), POLLIN, 0};
  int ready = poll(&p, 1, waitMs);
  if (ready < 0) return errno == EINTR ? 0 : -1;
  if (ready == 0) return 0;
  ssize_t got = recv(Fd(socket_), buffer, static_cast<size_t>(count), 0);
  if (got > 0) return static_cast<int32_t>(got);
  if (got < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) return 0;
  return -1;  // closed by the server (0) or failed
}

int32_t TcpLine::Send(const void* bytes, int32_t count, int waitMs) {
  const char* data = static_cast<const char*>(bytes);
  const auto deadline = port_timeouts::Clock::now() + std::chrono::milliseconds(waitMs);
  int32_t sent = 0;
  while (sent < count) {
    ssize_t n = send(Fd(socket_), data + sent, static_cast<size_t>(count - sent), MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<int32_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return sent ? sent : -1;
    if (WaitFor(Fd(socket_), POLLOUT, deadline) <= 0) break;
  }
  return sent;
}

int32_t TcpLine::Pending() {
  int waiting = 0;
  if (ioctl(Fd(socket_), FIONREAD, &waiting) != 0) return -1;
  return waiting;
}
