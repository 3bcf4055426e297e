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
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

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

// One lookup, shared by the thread that runs getaddrinfo() and the caller
// that waits for it in slices and may leave before it ends.
struct Lookup {
  std::mutex mutex;
  std::condition_variable ended;
  bool done = false;
  int status = 0;
  int systemError = 0;
  std::vector<SocketAddress> addresses;
};

void RunLookup(const std::shared_ptr<Lookup>& lookup, const std::string& host, uint16_t port) {
  addrinfo hints;
  std::memset(&hints, 0, sizeof hints);
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* found = nullptr;
  int status = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
  int systemError = errno;
  std::vector<SocketAddress> addresses;
  for (const addrinfo* at = found; status == 0 && at; at = at->ai_next) {
    SocketAddress address;
    address.family = at->ai_family;
    const uint8_t* raw = reinterpret_cast<const uint8_t*>(at->ai_addr);
    address.bytes.assign(raw, raw + at->ai_addrlen);
    addresses.push_back(std::move(address));
  }
  if (found) freeaddrinfo(found);
  std::lock_guard<std::mutex> lock(lookup->mutex);
  lookup->status = status;
  lookup->systemError = systemError;
  lookup->addresses = std::move(addresses);
  lookup->done = true;
  lookup->ended.notify_all();
}

// The error of one connection attempt, for the record of all of them.
void Note(ConnectAttempts* attempts, int error) {
  if (error == ECONNREFUSED) {
    attempts->Refused();
  } else if (error == ETIMEDOUT) {
    attempts->TimedOut();
  } else {
    attempts->Failed(std::strerror(error));
  }
}

}  // namespace

bool TcpLine::LookUp(const std::string& host, uint16_t port, Clock::time_point deadline,
                     const StopCheck& stop, std::vector<SocketAddress>* addresses, std::string* why) {
  auto lookup = std::make_shared<Lookup>();
  // Detached: a lookup that hangs past the deadline or a stop ends on its
  // own, and only the shared record outlives the caller.
  std::thread([lookup, host, port] { RunLookup(lookup, host, port); }).detach();
  std::unique_lock<std::mutex> lock(lookup->mutex);
  while (!lookup->done) {
    if (stop && stop()) {
      if (why) *why = kOpeningStopped;
      return false;
    }
    if (Clock::now() >= deadline) {
      if (why) {
        *why = "the host " + host + " could not be looked up within " +
               std::to_string(kConnectTimeoutMs / 1000) + " seconds";
      }
      return false;
    }
    lookup->ended.wait_for(lock, std::chrono::milliseconds(kStopSliceMs));
  }
  if (lookup->status != 0 || lookup->addresses.empty()) {
    if (why) {
      const char* reason = lookup->status == EAI_SYSTEM ? std::strerror(lookup->systemError)
                                                          : gai_strerror(lookup->status);
      *why = "the host " + host + " is not known (" + reason + ")";
    }
    return false;
  }
  *addresses = std::move(lookup->addresses);
  return true;
}

std::unique_ptr<TcpLine> TcpLine::ConnectFirst(const std::vector<SocketAddress>& addresses,
                                               Clock::time_point deadline, const StopCheck& stop,
                                               std::string* why) {
  ConnectSchedule schedule(addresses.size(), deadline);
  ConnectAttempts attempts;
  std::vector<pollfd> pending;
  auto closePending = [&] {
    for (const pollfd& p : pending) close(p.fd);
    pending.clear();
  };
  auto connected = [&](int fd) {
    closePending();
    // Frames are a few bytes each and the device waits for them whole.
    int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return std::unique_ptr<TcpLine>(new TcpLine(fd));
  };

  for (;;) {
    if (stop && stop()) {
      closePending();
      if (why) *why = kOpeningStopped;
      return nullptr;
    }
    Clock::time_point now = Clock::now();
    if (schedule.Exhausted(pending.size())) break;
    if (schedule.Expired(now)) {
      attempts.TimedOut();
      break;
    }
    while (schedule.NextDue(pending.size(), now)) {
      const SocketAddress& address = addresses[schedule.Begin(now)];
      int fd = socket(address.family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
      if (fd < 0) {
        Note(&attempts, errno);
        continue;
      }
      const sockaddr* target = reinterpret_cast<const sockaddr*>(address.bytes.data());
      if (connect(fd, target, static_cast<socklen_t>(address.bytes.size())) == 0) return connected(fd);
      if (errno != EINPROGRESS && errno != EINTR) {
        Note(&attempts, errno);
        close(fd);
        continue;
      }
      pending.push_back({fd, POLLOUT, 0});
    }
    if (pending.empty()) continue;

    int ready = poll(pending.data(), pending.size(), schedule.WaitMs(now));
    if (ready < 0 && errno != EINTR) {
      Note(&attempts, errno);
      break;
    }
    for (size_t i = 0; ready > 0 && i < pending.size();) {
      if (pending[i].revents == 0) {
        ++i;
        continue;
      }
      int fd = pending[i].fd;
      int error = 0;
      socklen_t length = sizeof error;
      if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
      pending.erase(pending.begin() + static_cast<long>(i));
      if (error == 0) return connected(fd);
      Note(&attempts, error);
      close(fd);
    }
  }
  closePending();
  if (why) *why = attempts.Why();
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
