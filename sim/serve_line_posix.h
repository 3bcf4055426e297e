#pragma once
// The device's line loop on a POSIX descriptor: a pseudo-terminal's master,
// a tty or a TCP connection. It reads the host's commands, and sends the
// replies paced, with the device's pause, hang-up and give-up on a host that
// stops reading.
#include <functional>

#include "sim/device_session.h"
#include "sim/line_framing.h"

struct HostLine {
  int fd = -1;
  int slave = -1;       // our own slave of a pty master (its queue is the host's), else -1
  bool socket = false;  // a TCP connection: sent without SIGPIPE
  LineFraming* framing = nullptr;
};

// Serves until stopRequested() (kServeStopped), a hang-up (kServeHungUp),
// with once the end of the first dump transfer (kServeOnceDone), or until
// the line fails or the host closes it (kServeError, errno set). fd must be
// non-blocking.
int ServeLine(const HostLine& line, DeviceSession& session, const std::function<bool()>& stopRequested,
              bool once);

// After a --once transfer: the host still reads its last, empty block, so
// the line stays up until the host closes it, or kStallSeconds at most.
// Whatever the host sends meanwhile is dropped.
void LingerUntilHostCloses(int fd, const volatile bool* stop);
