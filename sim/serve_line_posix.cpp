#include "sim/serve_line_posix.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "sim/device_sim.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int kPollMs = 20;               // how soon a stop request is seen
constexpr size_t kFastChunk = 4096;       // one write when unpaced
constexpr milliseconds kDrainSettle{100}; // the host's queue must stay empty this long
constexpr int kKeepServing = 100;

long long MillisecondsUntil(Clock::time_point now, Clock::time_point then) {
  return std::chrono::duration_cast<milliseconds>(then - now).count() + 1;
}

// Bytes written but not yet taken by the host: the slave's input queue when
// we hold the slave, else the descriptor's own output queue (for a TCP
// connection the bytes not yet acknowledged).
int QueuedForHost(const HostLine& line) {
  int queued = 0;
  if (line.slave >= 0) return ioctl(line.slave, FIONREAD, &queued) == 0 ? queued : 0;
  return ioctl(line.fd, TIOCOUTQ, &queued) == 0 ? queued : 0;
}

ssize_t WriteSome(const HostLine& line, const uint8_t* bytes, size_t count) {
  if (line.socket) return send(line.fd, bytes, count, MSG_NOSIGNAL);
  return write(line.fd, bytes, count);
}

ssize_t ReadSome(const HostLine& line, uint8_t* bytes, size_t count) {
  if (line.socket) return recv(line.fd, bytes, count, 0);
  return read(line.fd, bytes, count);
}

// Per-transmission timing of the line.
struct LineState {
  unsigned generation = 0;
  Clock::time_point paceStart;
  uint64_t paceSent = 0;
  bool pausing = false;
  Clock::time_point pauseUntil;
  Clock::time_point lastProgress;
  int lastQueued = -1;
  bool drainedSeen = false;
  Clock::time_point drainedSince;

  void Restart(unsigned newGeneration, Clock::time_point now) {
    *this = LineState();
    generation = newGeneration;
    paceStart = now;
    lastProgress = now;
  }
};

// Bytes on their way to the host: the framed device bytes and the device
// server's answers, written in the order they were made.
struct Outbox {
  std::vector<uint8_t> bytes;
  size_t at = 0;

  bool empty() const { return at == bytes.size(); }
  void Append(const std::vector<uint8_t>& more) {
    if (empty()) {
      bytes.clear();
      at = 0;
    }
    bytes.insert(bytes.end(), more.begin(), more.end());
  }
};

// How many bytes the pace allows now; *waitMs says when the next one is due.
size_t PacedBudget(LineState& line, long rate, size_t chunk, Clock::time_point now, long long* waitMs) {
  uint64_t elapsedUs = static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::microseconds>(now - line.paceStart).count());
  uint64_t allowed = static_cast<uint64_t>(rate) * elapsedUs / 1000000;
  // A host that stopped reading for a while gets no burst afterwards.
  if (allowed > line.paceSent + 2 * chunk) line.paceSent = allowed - 2 * chunk;
  if (allowed > line.paceSent) return static_cast<size_t>(allowed - line.paceSent);
  uint64_t dueUs = (line.paceSent + 1) * 1000000 / static_cast<uint64_t>(rate);
  *waitMs = static_cast<long long>((dueUs - std::min(dueUs, elapsedUs)) / 1000) + 1;
  return 0;
}

// Ends the current transmission; says whether the loop goes on.
int EndTransmission(DeviceSession& session, bool once) {
  Transmission* tx = session.current();
  bool dump = tx->dump;
  bool hangUp = tx->hangUpAfter;
  session.Finish();
  if (hangUp) return kServeHungUp;
  if (once && dump) return kServeOnceDone;
  return kKeepServing;
}

// How many bytes of tx to send now, keeping to the pause and the pace;
// lowers *timeoutMs to when more may go.
size_t PlanWrite(Transmission& tx, LineState& line, long rate, size_t chunk, Clock::time_point now,
                 long long* timeoutMs) {
  if (tx.sent == tx.pauseAt) {
    tx.pauseAt = Transmission::kNoPause;
    line.pausing = true;
    line.pauseUntil = now + milliseconds(tx.pauseMs);
  }
  if (line.pausing) {
    if (now < line.pauseUntil) {
      *timeoutMs = std::min(*timeoutMs, MillisecondsUntil(now, line.pauseUntil));
      line.lastProgress = now;  // a pause is no stall
      return 0;
    }
    line.pausing = false;
    line.paceStart = now;
    line.paceSent = 0;
  }
  size_t limit = tx.length;
  if (tx.pauseAt != Transmission::kNoPause && tx.pauseAt > tx.sent) limit = std::min(limit, tx.pauseAt);
  size_t toWrite = std::min(chunk, limit - tx.sent);
  if (rate > 0) {
    long long waitMs = kPollMs;
    toWrite = std::min(toWrite, PacedBudget(line, rate, chunk, now, &waitMs));
    if (toWrite == 0) *timeoutMs = std::min(*timeoutMs, waitMs);
  }
  return toWrite;
}

// Everything is written: true once the host has taken it (its queue stayed
// empty for kDrainSettle) or has stopped taking it for kStallSeconds.
bool Delivered(LineState& line, int queued, Clock::time_point now) {
  if (queued != line.lastQueued) {
    line.lastQueued = queued;
    line.lastProgress = now;
  }
  if (queued > 0) {
    line.drainedSeen = false;
  } else if (!line.drainedSeen) {
    line.drainedSeen = true;
    line.drainedSince = now;
  }
  return (line.drainedSeen && now - line.drainedSince >= kDrainSettle) ||
         now - line.lastProgress > std::chrono::seconds(kStallSeconds);
}

}  // namespace

int ServeLine(const HostLine& host, DeviceSession& session, const std::function<bool()>& stopRequested,
              bool once) {
  const long rate = session.options().bytesPerSecond;
  const size_t chunk = rate > 0 ? static_cast<size_t>(std::max(1L, rate / 100)) : kFastChunk;
  uint8_t input[4096];
  std::vector<uint8_t> heard, reply, framed;
  Outbox outbox;
  LineState line;

  while (!stopRequested()) {
    Clock::time_point now = Clock::now();
    long long timeoutMs = kPollMs;
    Transmission* tx = session.current();
    if (tx && tx->generation != line.generation) line.Restart(tx->generation, now);

    if (tx && tx->sent < tx->length) {
      if (now - line.lastProgress > std::chrono::seconds(kStallSeconds)) {
        // The host stopped reading: the rest of the stream is lost on the line.
        int next = EndTransmission(session, once);
        if (next != kKeepServing) return next;
        continue;
      }
      // The next piece is framed once the last one is out.
      size_t toWrite = outbox.empty() ? PlanWrite(*tx, line, rate, chunk, now, &timeoutMs) : 0;
      if (toWrite > 0) {
        framed.clear();
        host.framing->ToHost(tx->bytes->data() + tx->sent, toWrite, &framed);
        outbox.Append(framed);
        tx->sent += toWrite;
        line.paceSent += toWrite;
      }
    } else if (tx && outbox.empty()) {
      // A short reply is done when written; a dump when the host has taken
      // it, so --once never cuts off the last bytes.
      bool waitForHost = tx->dump || tx->hangUpAfter;
      if (!waitForHost || Delivered(line, QueuedForHost(host), now)) {
        int next = EndTransmission(session, once);
        if (next != kKeepServing) return next;
        continue;
      }
      timeoutMs = 10;
    }

    short events = outbox.empty() ? POLLIN : POLLIN | POLLOUT;
    pollfd pfd{host.fd, events, 0};
    int ready = poll(&pfd, 1, static_cast<int>(timeoutMs));
    if (ready < 0) {
      if (errno == EINTR) continue;
      return kServeError;
    }
    // Write before reading: a command read now may replace the transmission.
    if ((pfd.revents & POLLOUT) && !outbox.empty()) {
      ssize_t written = WriteSome(host, outbox.bytes.data() + outbox.at, outbox.bytes.size() - outbox.at);
      if (written > 0) {
        outbox.at += static_cast<size_t>(written);
        line.lastProgress = Clock::now();
      } else if (written < 0 && errno != EAGAIN && errno != EINTR) {
        return kServeError;
      }
    }
    if (pfd.revents & POLLIN) {
      ssize_t count = ReadSome(host, input, sizeof(input));
      if (count > 0) {
        heard.clear();
        reply.clear();
        host.framing->FromHost(input, static_cast<size_t>(count), &heard, &reply);
        if (!heard.empty()) session.Receive(heard.data(), heard.size());
        if (!reply.empty()) outbox.Append(reply);
      } else if (count == 0 || (errno != EAGAIN && errno != EINTR)) {
        if (count == 0) errno = EIO;
        return kServeError;  // the line went away
      }
    } else if (pfd.revents & (POLLHUP | POLLERR | POLLNVAL)) {
      errno = EIO;
      return kServeError;
    }
  }
  return kServeStopped;
}

void LingerUntilHostCloses(int fd, const volatile bool* stop) {
  uint8_t discard[256];
  for (int waited = 0; waited < kStallSeconds * 1000 && !(stop && *stop); waited += kPollMs) {
    pollfd pfd{fd, POLLIN, 0};
    int ready = poll(&pfd, 1, kPollMs);
    if (ready < 0 && errno != EINTR) return;
    if (ready <= 0) continue;
    if (pfd.revents & POLLIN) {
      if (read(fd, discard, sizeof(discard)) <= 0 && errno != EAGAIN) return;
    } else if (pfd.revents & (POLLHUP | POLLERR | POLLNVAL)) {
      return;
    }
  }
}
