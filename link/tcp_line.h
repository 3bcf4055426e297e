#pragma once
// A raw TCP connection to a serial device server as the line to the device:
// the bytes on the connection are the bytes on the serial line, and the line
// runs at whatever speed the server is set to. tcp_line_posix.cpp and
// tcp_line_win32.cpp hold the sockets (POSIX, Winsock); the time-outs of a
// serial port are kept over them here.
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "link/device_line.h"
#include "link/net_connection.h"

// One address a name stands for: a socket address of any family, as the
// system's lookup gave it.
struct SocketAddress {
  int family = 0;
  std::vector<uint8_t> bytes;  // the platform's sockaddr
};

class TcpLine : public DeviceLine, public NetConnection {
 public:
  // How long a connection may take to come about, the name's lookup
  // included, before it is given up.
  static constexpr int kConnectTimeoutMs = 5000;
  // With several addresses, the next one is tried this long after the last
  // was begun while the earlier ones are still pending (a black-holed IPv6
  // address must not hide a working IPv4 one); at once when they all failed.
  static constexpr int kNextAddressAfterMs = 250;
  // The silence that ends an image on a network line (ImageEndSilenceMs).
  static constexpr int kImageEndSilenceMs = 4000;

  using Clock = std::chrono::steady_clock;

  // Looks `host` up and connects to the first of its addresses that answers,
  // within kConnectTimeoutMs in all. Null when none connected; *why then
  // says why: a name that is not known, a refused connection, no answer,
  // "stopped" when `stop` said so, or the system's reason.
  static std::unique_ptr<TcpLine> Connect(const std::string& host, uint16_t port, std::string* why,
                                          const StopCheck& stop = StopCheck());

  // The two steps of Connect. LookUp gives the addresses of `host` in the
  // order the system prefers them; the lookup runs on a thread of its own,
  // so that it can be given up at the deadline or a stop while it hangs.
  static bool LookUp(const std::string& host, uint16_t port, Clock::time_point deadline,
                     const StopCheck& stop, std::vector<SocketAddress>* addresses, std::string* why);
  // Tries the addresses in order, each begun kNextAddressAfterMs after the
  // one before (or as soon as every earlier one failed), until one connects
  // or the deadline passes.
  static std::unique_ptr<TcpLine> ConnectFirst(const std::vector<SocketAddress>& addresses,
                                               Clock::time_point deadline, const StopCheck& stop,
                                               std::string* why);
  ~TcpLine() override;

  // Waits until the device server has said what it says on a new connection
  // and then falls quiet (see line_quiet.h); false, with *why, when it
  // speaks Telnet, refuses the connection or closes it, or `stop` said so.
  bool AwaitQuiet(const StopCheck& stop, std::string* why);

  // The serial port's time-outs over the connection; a connection closed
  // by the server fails the read, like a line that hangs up.
  int32_t Read(void* buffer, int32_t count) override;
  int32_t Write(const void* bytes, int32_t count) override;
  // The bytes received and not yet read.
  int32_t InputWaiting() override;
  bool SetsSpeed() const override { return false; }
  int ImageEndSilenceMs() const override { return kImageEndSilenceMs; }

  // The connection itself, for a protocol above it (rfc2217_line.h).
  int32_t Receive(void* buffer, int32_t count, int waitMs) override;
  int32_t Send(const void* bytes, int32_t count, int waitMs) override;
  int32_t Pending() override;

 private:
  explicit TcpLine(intptr_t socket) : socket_(socket) {}
  intptr_t socket_;
};

// When ConnectFirst begins each address: the first at once, each next one
// kNextAddressAfterMs after the one before, or as soon as none is pending.
class ConnectSchedule {
 public:
  using Clock = TcpLine::Clock;
  ConnectSchedule(size_t addresses, Clock::time_point deadline) : count_(addresses), deadline_(deadline) {}

  // Whether the next address is to be begun now, `pending` attempts being
  // under way.
  bool NextDue(size_t pending, Clock::time_point now) const;
  // Begins it: its index.
  size_t Begin(Clock::time_point now);
  // Nothing pending and no address left to try.
  bool Exhausted(size_t pending) const { return pending == 0 && next_ >= count_; }
  bool Expired(Clock::time_point now) const { return now >= deadline_; }
  // How long to wait for the pending attempts now: until the next address is
  // due or the deadline, and never longer than a stop slice.
  int WaitMs(Clock::time_point now) const;

 private:
  size_t count_;
  Clock::time_point deadline_;
  size_t next_ = 0;
  Clock::time_point lastBegun_;
};

// How the attempts of ConnectFirst went, in the same words on every
// platform: the system's own text only for the other failures.
class ConnectAttempts {
 public:
  void Refused() { refused_ = true; }
  void TimedOut() { timedOut_ = true; }
  void Failed(const std::string& systemText) { other_ = systemText; }
  // Why no attempt connected: a refusal says most (something answered),
  // then no answer in time, then the last other failure.
  std::string Why() const;

 private:
  bool refused_ = false;
  bool timedOut_ = false;
  std::string other_;
};

// The stop text of an opening given up because `stop` said so.
extern const char kOpeningStopped[];
