// The serial port's behaviour over a TCP connection; the sockets themselves
// are in tcp_line_posix.cpp and tcp_line_win32.cpp.
#include "link/tcp_line.h"

#include "link/line_quiet.h"
#include "link/port_timeouts.h"

const char kOpeningStopped[] = "stopped";

NetConnection::~NetConnection() = default;

std::unique_ptr<TcpLine> TcpLine::Connect(const std::string& host, uint16_t port, std::string* why,
                                          const StopCheck& stop) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kConnectTimeoutMs);
  std::vector<SocketAddress> addresses;
  if (!LookUp(host, port, deadline, stop, &addresses, why)) return nullptr;
  return ConnectFirst(addresses, deadline, stop, why);
}

bool TcpLine::AwaitQuiet(const StopCheck& stop, std::string* why) {
  return ::AwaitQuiet([this](uint8_t* at, int32_t n, int waitMs) { return Receive(at, n, waitMs); },
                      true, stop, why);
}

int32_t TcpLine::Read(void* buffer, int32_t count) {
  return ReadWithPortTimeouts(
      [this](char* at, int32_t n, int waitMs) { return Receive(at, n, waitMs); }, buffer, count);
}

int32_t TcpLine::Write(const void* bytes, int32_t count) {
  return Send(bytes, count, static_cast<int>(port_timeouts::kWriteTotal.count()));
}

int32_t TcpLine::InputWaiting() { return Pending(); }

std::string ConnectAttempts::Why() const {
  if (refused_) return "the connection was refused (is the device server's port right?)";
  if (timedOut_ || other_.empty()) {
    return "no answer within " + std::to_string(TcpLine::kConnectTimeoutMs / 1000) + " seconds";
  }
  return "cannot connect: " + other_;
}

bool ConnectSchedule::NextDue(size_t pending, Clock::time_point now) const {
  if (next_ >= count_ || Expired(now)) return false;
  return pending == 0 || now - lastBegun_ >= std::chrono::milliseconds(TcpLine::kNextAddressAfterMs);
}

size_t ConnectSchedule::Begin(Clock::time_point now) {
  lastBegun_ = now;
  return next_++;
}

int ConnectSchedule::WaitMs(Clock::time_point now) const {
  Clock::time_point until = deadline_;
  if (next_ < count_) {
    Clock::time_point due = lastBegun_ + std::chrono::milliseconds(TcpLine::kNextAddressAfterMs);
    if (due < until) until = due;
  }
  auto left = std::chrono::ceil<std::chrono::milliseconds>(until - now).count();
  if (left < 0) left = 0;
  return left < kStopSliceMs ? static_cast<int>(left) : kStopSliceMs;
}
