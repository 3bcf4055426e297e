// The device behind a TCP port, as a serial device server offers a serial
// line: raw, or with the server's side of RFC 2217.
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>

#include "sim/device_sim.h"
#include "sim/serve_line_posix.h"

namespace {

constexpr int kPollMs = 20;  // how soon a stop request is seen

// HOST:PORT with the host in brackets when it is an IPv6 address; an empty
// host or "*" is every address of the machine. PORT is 0 to 65535.
bool SplitHostPort(const std::string& text, std::string* host, std::string* port) {
  size_t colon;
  if (!text.empty() && text[0] == '[') {
    size_t close = text.find(']');
    if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ':') return false;
    *host = text.substr(1, close - 1);
    colon = close + 1;
  } else {
    colon = text.rfind(':');
    if (colon == std::string::npos) return false;
    *host = text.substr(0, colon);
    if (host->find(':') != std::string::npos) return false;
  }
  *port = text.substr(colon + 1);
  if (port->empty() || port->size() > 5) return false;
  for (char c : *port) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  }
  if (std::stoul(*port) > 65535) return false;
  if (*host == "*") host->clear();
  return true;
}

std::string BoundAddress(int fd) {
  sockaddr_storage address;
  socklen_t length = sizeof address;
  char host[NI_MAXHOST], port[NI_MAXSERV];
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
      getnameinfo(reinterpret_cast<sockaddr*>(&address), length, host, sizeof host, port, sizeof port,
                  NI_NUMERICHOST | NI_NUMERICSERV) != 0) {
    return "?";
  }
  bool ipv6 = std::strchr(host, ':') != nullptr;
  return (ipv6 ? std::string("[") + host + "]" : std::string(host)) + ":" + port;
}

// Serves one host's connections after another until stopped, hung up, or
// with once the first dump transfer.
int ServeConnections(int listener, DeviceSession& session, LineSettings* settings, size_t overrunAt,
                     const std::function<bool()>& stopRequested, const volatile bool* stop, bool once) {
  while (!stopRequested()) {
    pollfd pfd{listener, POLLIN, 0};
    int ready = poll(&pfd, 1, kPollMs);
    if (ready < 0 && errno != EINTR) return kServeError;
    if (ready <= 0) continue;
    int connection = accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (connection < 0) {
      if (errno == EAGAIN || errno == EINTR || errno == ECONNABORTED) continue;
      return kServeError;
    }
    int on = 1;
    setsockopt(connection, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);

    RawFraming raw;
    Rfc2217Framing telnet(settings, overrunAt);
    HostLine line;
    line.fd = connection;
    line.socket = true;
    line.framing = settings ? static_cast<LineFraming*>(&telnet) : &raw;
    int result = ServeLine(line, session, stopRequested, once);
    if (result == kServeOnceDone) LingerUntilHostCloses(connection, stop);
    close(connection);
    // A reply the host left before taking it is lost with the connection.
    if (session.current()) session.Finish();
    if (result != kServeError) return result;
    // The host closed or dropped its connection: the next one may come.
    if (once && session.TransfersEnded() > 0) return kServeOnceDone;
  }
  return kServeStopped;
}

}  // namespace

bool ListenTcp(const std::string& hostPort, int* fd, std::string* bound, std::string* error) {
  std::string host, port;
  if (!SplitHostPort(hostPort, &host, &port)) {
    *error = "'" + hostPort + "' is not HOST:PORT (127.0.0.1:4001, [::1]:4001, *:0)";
    return false;
  }
  addrinfo hints;
  std::memset(&hints, 0, sizeof hints);
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  int status = getaddrinfo(host.empty() ? nullptr : host.c_str(), port.c_str(), &hints, &found);
  if (status != 0) {
    *error = "cannot listen on " + hostPort + ": " + gai_strerror(status);
    return false;
  }
  int lastError = 0;
  for (addrinfo* address = found; address; address = address->ai_next) {
    int socket = ::socket(address->ai_family, address->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                          address->ai_protocol);
    if (socket < 0) {
      lastError = errno;
      continue;
    }
    int on = 1;
    setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (bind(socket, address->ai_addr, address->ai_addrlen) == 0 && listen(socket, 4) == 0) {
      freeaddrinfo(found);
      *fd = socket;
      *bound = BoundAddress(socket);
      return true;
    }
    lastError = errno;
    close(socket);
  }
  freeaddrinfo(found);
  *error = "cannot listen on " + hostPort + ": " + std::strerror(lastError);
  return false;
}

int ServeTcp(int listener, DeviceSession& session, LineSettings* settings, const volatile bool* stop,
             bool once, size_t overrunAt) {
  if (session.options().id.size() != 6) {
    errno = EINVAL;
    return kServeError;
  }
  return ServeConnections(listener, session, settings, overrunAt, [stop] { return stop && *stop; }, stop,
                          once);
}

TcpDevice::TcpDevice(bool rfc2217, size_t overrunAt) : rfc2217_(rfc2217), overrunAt_(overrunAt) {}

TcpDevice::~TcpDevice() { Stop(); }

bool TcpDevice::Open(std::string* error) {
  std::string bound;
  if (!ListenTcp("127.0.0.1:0", &listener_, &bound, error)) return false;
  path_ = (rfc2217_ ? "rfc2217://" : "tcp://") + bound;
  return true;
}

int TcpDevice::Serve(DeviceSession& session, const std::function<bool()>& stopRequested) {
  return ServeConnections(listener_, session, rfc2217_ ? &settings_ : nullptr, overrunAt_, stopRequested,
                          nullptr, false);
}

void TcpDevice::Close() {
  if (listener_ >= 0) close(listener_);
  listener_ = -1;
}
