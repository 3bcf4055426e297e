#pragma once
// The library's read time-out bounds each wait for a client's next bytes,
// not the whole of a request: a client that sends a byte of its headers every
// second would hold a worker for ever, and a few such clients all of them.
// The watchdog looks at the server's connections twice a second (the sockets
// of this process on the listening port, found in /proc/self/fd) and shuts
// down each that has not brought a request's headers (and finished its TLS
// handshake) within the keep-alive time plus the read time-out since it
// opened or since its last answer. A request whose headers are in is the
// handlers' to time (the body by its rate, the answer by the write time-out).
#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>

class ConnectionWatchdog {
 public:
  ConnectionWatchdog(int port, std::chrono::milliseconds headerLimit);
  ~ConnectionWatchdog();
  ConnectionWatchdog(const ConnectionWatchdog&) = delete;
  ConnectionWatchdog& operator=(const ConnectionWatchdog&) = delete;

  // The client at addr:port (as the request gives them) has sent its headers.
  void HeadersRead(const std::string& addr, int port);
  // Its request is answered: the next one's headers are due from now.
  void Answered(const std::string& addr, int port);
  // How many connections it has shut down.
  int shutDown() const;

 private:
  using Clock = std::chrono::steady_clock;
  struct PeerState {
    bool busy = false;
    Clock::time_point since;
  };
  struct Connection {
    int fd = -1;
    std::string peer;
    Clock::time_point since;
  };

  void Run();
  void Scan();

  const int port_;
  const std::chrono::milliseconds limit_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::map<std::string, PeerState> peers_;  // by "addr port", from the hooks
  std::map<ino_t, Connection> connections_;  // by socket inode, from the scans
  int shutDown_ = 0;
  std::thread thread_;
};
