#include "server/connection_watchdog.h"

#include <dirent.h>
#include <netdb.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <cstdlib>

namespace {

std::string PeerKey(const std::string& addr, int port) { return addr + " " + std::to_string(port); }

// The local port and the peer of a connected TCP socket; false for any other descriptor.
bool SocketEnds(int fd, int* localPort, std::string* peer) {
  sockaddr_storage local = {}, remote = {};
  socklen_t localLength = sizeof local, remoteLength = sizeof remote;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localLength) != 0 ||
      (local.ss_family != AF_INET && local.ss_family != AF_INET6) ||
      getpeername(fd, reinterpret_cast<sockaddr*>(&remote), &remoteLength) != 0)
    return false;
  char host[NI_MAXHOST], service[NI_MAXSERV];
  if (getnameinfo(reinterpret_cast<sockaddr*>(&local), localLength, nullptr, 0, service, sizeof service,
                  NI_NUMERICSERV) != 0)
    return false;
  *localPort = std::atoi(service);
  // The same spelling as the server library gives a request's remote_addr.
  if (getnameinfo(reinterpret_cast<sockaddr*>(&remote), remoteLength, host, sizeof host, service, sizeof service,
                  NI_NUMERICHOST | NI_NUMERICSERV) != 0)
    return false;
  *peer = PeerKey(host, std::atoi(service));
  return true;
}

}  // namespace

ConnectionWatchdog::ConnectionWatchdog(int port, std::chrono::milliseconds headerLimit)
    : port_(port), limit_(headerLimit), thread_([this] { Run(); }) {}

ConnectionWatchdog::~ConnectionWatchdog() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void ConnectionWatchdog::HeadersRead(const std::string& addr, int port) {
  std::lock_guard<std::mutex> lock(mutex_);
  PeerState& state = peers_[PeerKey(addr, port)];
  state.busy = true;
  state.since = Clock::now();
}

void ConnectionWatchdog::Answered(const std::string& addr, int port) {
  std::lock_guard<std::mutex> lock(mutex_);
  PeerState& state = peers_[PeerKey(addr, port)];
  state.busy = false;
  state.since = Clock::now();
}

int ConnectionWatchdog::shutDown() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return shutDown_;
}

void ConnectionWatchdog::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stopping_) {
    wake_.wait_for(lock, std::chrono::milliseconds(500));
    if (!stopping_) Scan();
  }
}

void ConnectionWatchdog::Scan() {
  const Clock::time_point now = Clock::now();
  DIR* fds = opendir("/proc/self/fd");
  if (!fds) return;
  std::set<ino_t> seen;
  std::set<std::string> seenPeers;
  while (dirent* entry = readdir(fds)) {
    char* end = nullptr;
    const long fd = std::strtol(entry->d_name, &end, 10);
    struct stat info;
    if (*end || end == entry->d_name || fd == dirfd(fds) || fstat(static_cast<int>(fd), &info) != 0 ||
        !S_ISSOCK(info.st_mode))
      continue;
    int localPort = 0;
    std::string peer;
    if (!SocketEnds(static_cast<int>(fd), &localPort, &peer) || localPort != port_) continue;
    seen.insert(info.st_ino);
    seenPeers.insert(peer);
    auto found = connections_.find(info.st_ino);
    if (found == connections_.end()) {
      connections_[info.st_ino] = {static_cast<int>(fd), peer, now};
      continue;
    }
    Clock::time_point since = found->second.since;
    auto state = peers_.find(peer);
    if (state != peers_.end()) {
      if (state->second.busy) continue;
      since = std::max(since, state->second.since);
    }
    if (now - since > limit_) {
      shutdown(static_cast<int>(fd), SHUT_RDWR);  // the worker's read fails and it closes the socket
      ++shutDown_;
      found->second.since = now;  // once is enough
    }
  }
  closedir(fds);
  for (auto it = connections_.begin(); it != connections_.end();) it = seen.count(it->first) ? std::next(it) : connections_.erase(it);
  // A peer's state outlives its connection only as long as a new one could still be unseen.
  for (auto it = peers_.begin(); it != peers_.end();)
    it = seenPeers.count(it->first) || now - it->second.since < limit_ ? std::next(it) : peers_.erase(it);
}
