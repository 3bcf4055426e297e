// The device's line loop on a POSIX descriptor, and the pseudo-terminal that
// tests and the serve command hand to a host.
#include "sim/device_sim.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int kPollMs = 20;               // how soon a stop request is seen
constexpr size_t kFastChunk = 4096;       // one write when unpaced
constexpr milliseconds kDrainSettle{100}; // the host's queue must stay empty this long

long long MillisecondsUntil(Clock::time_point now, Clock::time_point then) {
  return std::chrono::duration_cast<milliseconds>(then - now).count() + 1;
}

// Bytes written but not yet taken by the host: the slave's input queue when
// we hold the slave, else the descriptor's own output queue.
int QueuedForHost(int fd, int slave) {
  int queued = 0;
  if (slave >= 0) return ioctl(slave, FIONREAD, &queued) == 0 ? queued : 0;
  return ioctl(fd, TIOCOUTQ, &queued) == 0 ? queued : 0;
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

constexpr int kKeepServing = 100;

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

// How many bytes of tx to write now, keeping to the pause and the pace;
// lowers *timeoutMs to when more may go.
size_t PlanWrite(Transmission& tx, LineState& line, long rate, size_t chunk, Clock::time_point now,
                 long long* timeoutMs) {
  if (tx.sent == tx.pauseAt) {
    tx.pauseAt = Transmission::kNoPause;
    line.pausing = true;
    line.pauseUntil = now + milliseconds(DeviceSession::kPauseMs);
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

int ServeLine(int fd, int slave, DeviceSession& session, const std::function<bool()>& stopRequested, bool once) {
  const long rate = session.options().bytesPerSecond;
  const size_t chunk = rate > 0 ? static_cast<size_t>(std::max(1L, rate / 100)) : kFastChunk;
  uint8_t input[4096];
  LineState line;

  while (!stopRequested()) {
    Clock::time_point now = Clock::now();
    long long timeoutMs = kPollMs;
    size_t toWrite = 0;
    Transmission* tx = session.current();
    if (tx && tx->generation != line.generation) line.Restart(tx->generation, now);

    if (tx && tx->sent < tx->length) {
      if (now - line.lastProgress > std::chrono::seconds(kStallSeconds)) {
        // The host stopped reading: the rest of the stream is lost on the line.
        int next = EndTransmission(session, once);
        if (next != kKeepServing) return next;
        continue;
      }
      toWrite = PlanWrite(*tx, line, rate, chunk, now, &timeoutMs);
    } else if (tx) {
      // A short reply is done when written; a dump when the host has taken
      // it, so --once never cuts off the last bytes.
      bool waitForHost = tx->dump || tx->hangUpAfter;
      if (!waitForHost || Delivered(line, QueuedForHost(fd, slave), now)) {
        int next = EndTransmission(session, once);
        if (next != kKeepServing) return next;
        continue;
      }
      timeoutMs = 10;
    }

    short events = toWrite > 0 ? POLLIN | POLLOUT : POLLIN;
    pollfd pfd{fd, events, 0};
    int ready = poll(&pfd, 1, static_cast<int>(timeoutMs));
    if (ready < 0) {
      if (errno == EINTR) continue;
      return kServeError;
    }
    // Write before reading: a command read now may replace the transmission.
    if ((pfd.revents & POLLOUT) && toWrite > 0) {
      ssize_t written = write(fd, tx->bytes->data() + tx->sent, toWrite);
      if (written > 0) {
        tx->sent += static_cast<size_t>(written);
        line.paceSent += static_cast<uint64_t>(written);
        line.lastProgress = Clock::now();
      } else if (written < 0 && errno != EAGAIN && errno != EINTR) {
        return kServeError;
      }
    }
    if (pfd.revents & POLLIN) {
      ssize_t count = read(fd, input, sizeof(input));
      if (count > 0) {
        session.Receive(input, static_cast<size_t>(count));
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

// Opens the slave of a pty master (so the line survives the host closing
// it), or gives -1 when fd is no master.
int OpenSlaveOf(int fd) {
  char name[128];
  if (ptsname_r(fd, name, sizeof(name)) != 0) return -1;
  return open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
}

void CloseFd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

// After a --once transfer: the host still reads its last, empty block, so
// the line stays up until the host closes it (the master then sees a
// hang-up once our own slave is gone), or kStallSeconds at most.
void LingerUntilHostCloses(int fd, int& slave, const volatile bool* stop) {
  CloseFd(slave);
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

}  // namespace

bool OpenPseudoTerminal(int* master, std::string* path, std::string* error) {
  auto fail = [&](const std::string& what, int fd) {
    if (error) *error = what + ": " + std::strerror(errno);
    if (fd >= 0) close(fd);
    return false;
  };
  int fd = posix_openpt(O_RDWR | O_NOCTTY);
  if (fd < 0) return fail("cannot open a pseudo-terminal", -1);
  if (grantpt(fd) != 0 || unlockpt(fd) != 0) return fail("cannot unlock the pseudo-terminal", fd);
  fcntl(fd, F_SETFD, FD_CLOEXEC);
  char name[128];
  if (ptsname_r(fd, name, sizeof(name)) != 0) return fail("cannot name the pseudo-terminal", fd);
  // Raw from the start, so nothing is echoed or translated before the host
  // sets its own mode; the mode stays with the terminal when we close it.
  int slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave < 0) return fail(std::string("cannot open ") + name, fd);
  termios mode;
  if (tcgetattr(slave, &mode) != 0) {
    close(slave);
    return fail(std::string("cannot read the mode of ") + name, fd);
  }
  cfmakeraw(&mode);
  int set = tcsetattr(slave, TCSANOW, &mode);
  close(slave);
  if (set != 0) return fail(std::string("cannot set the mode of ") + name, fd);
  *master = fd;
  *path = name;
  return true;
}

int ServeSession(int fd, DeviceSession& session, const volatile bool* stop, bool once) {
  if (session.options().id.size() != 6) {
    errno = EINVAL;
    return kServeError;
  }
  int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) return kServeError;
  int slave = OpenSlaveOf(fd);
  int result = ServeLine(fd, slave, session, [stop] { return stop && *stop; }, once);
  int savedErrno = errno;
  if (result == kServeOnceDone) LingerUntilHostCloses(fd, slave, stop);
  CloseFd(slave);
  fcntl(fd, F_SETFL, flags);
  errno = savedErrno;
  return result;
}

int ServeDevice(int fd, const DeviceOptions& options, const volatile bool* stop) {
  DeviceSession session(options);
  return ServeSession(fd, session, stop, false);
}

PtyDevice::PtyDevice() = default;

PtyDevice::~PtyDevice() { Stop(); }

bool PtyDevice::Start(const DeviceOptions& options, std::string* error) {
  if (thread_.joinable()) {
    if (error) *error = "the device is already running on " + path_;
    return false;
  }
  if (options.id.size() != 6) {
    if (error) *error = "the device id must be 6 bytes, not " + std::to_string(options.id.size());
    return false;
  }
  std::string name;
  if (!OpenPseudoTerminal(&master_, &name, error)) return false;
  // Our own slave descriptor keeps the line alive while the host closes and
  // reopens it.
  slave_ = open(name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  int flags = slave_ < 0 ? -1 : fcntl(master_, F_GETFL);
  if (flags < 0 || fcntl(master_, F_SETFL, flags | O_NONBLOCK) < 0) {
    if (error) *error = "cannot hold " + name + " open: " + std::strerror(errno);
    CloseFd(slave_);
    CloseFd(master_);
    return false;
  }

  path_ = name;
  session_ = std::make_unique<DeviceSession>(options);
  stop_ = false;
  hungUp_ = false;
  lineError_ = 0;
  thread_ = std::thread(&PtyDevice::Run, this);
  return true;
}

void PtyDevice::Run() {
  int result = ServeLine(master_, slave_, *session_, [this] { return stop_.load(); }, false);
  if (result == kServeHungUp) {
    CloseFd(slave_);
    CloseFd(master_);
    hungUp_ = true;
  } else if (result == kServeError) {
    lineError_ = errno ? errno : EIO;
  }
}

void PtyDevice::Stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  CloseFd(slave_);
  CloseFd(master_);
}

std::vector<uint8_t> PtyDevice::Received() const {
  return session_ ? session_->Received() : std::vector<uint8_t>();
}

int PtyDevice::DumpRequests() const { return session_ ? session_->DumpRequests() : 0; }

int PtyDevice::IdentifyRequests() const { return session_ ? session_->IdentifyRequests() : 0; }

int PtyDevice::TransfersEnded() const { return session_ ? session_->TransfersEnded() : 0; }
