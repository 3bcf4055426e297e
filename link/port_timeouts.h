#pragma once
// The read time-outs of a serial port as the device link sets them, for
// lines whose platform has no such time-outs of its own (a POSIX terminal, a
// TCP connection): a read of n bytes returns as soon as n bytes are in, 500
// ms after the last byte that came, or 1000 ms after the call, whichever is
// first.
#include <chrono>
#include <cstdint>

namespace port_timeouts {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr milliseconds kReadInterval{500};
constexpr milliseconds kReadTotal{1000};
constexpr milliseconds kWriteTotal{1000};

// Milliseconds until `deadline` for a wait, rounded up so that a wait never
// ends just before its deadline and spins; 0 once it has passed.
inline int MsUntil(Clock::time_point deadline) {
  auto left = std::chrono::ceil<milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace port_timeouts

// One read of up to `count` bytes under the time-outs above. `receive(at,
// n, waitMs)` stores up to n bytes that arrive within waitMs milliseconds and
// gives their number, 0 when none came (or a signal cut the wait short), or
// -1 when the line failed. Gives the bytes read, or -1 when the line failed
// before any came (bytes that came first are given, and the next read fails).
template <typename Receive>
int32_t ReadWithPortTimeouts(Receive&& receive, void* buffer, int32_t count) {
  using namespace port_timeouts;
  if (count <= 0) return 0;
  char* bytes = static_cast<char*>(buffer);
  const Clock::time_point total = Clock::now() + kReadTotal;
  Clock::time_point deadline = total;
  int32_t got = 0;
  while (got < count) {
    int wait = MsUntil(deadline);
    if (wait == 0) break;
    int32_t n = receive(bytes + got, count - got, wait);
    if (n < 0) return got ? got : -1;
    if (n == 0) continue;
    got += n;
    Clock::time_point interval = Clock::now() + kReadInterval;
    deadline = interval < total ? interval : total;
  }
  return got;
}
