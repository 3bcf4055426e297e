// The device on a pseudo-terminal or a tty, and the background runner that
// tests use for it (the line loop itself is serve_line_posix.cpp).
#include "sim/device_sim.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "sim/serve_line_posix.h"

namespace {

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

uint32_t BitsPerSecond(speed_t code) {
  switch (code) {
    case B1200: return 1200;
    case B2400: return 2400;
    case B4800: return 4800;
    case B9600: return 9600;
    case B19200: return 19200;
    case B38400: return 38400;
    case B57600: return 57600;
    case B115200: return 115200;
    case B230400: return 230400;
    default: return 0;
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
  RawFraming framing;
  HostLine line;
  line.fd = fd;
  line.slave = OpenSlaveOf(fd);
  line.framing = &framing;
  int result = ServeLine(line, session, [stop] { return stop && *stop; }, once);
  int savedErrno = errno;
  if (result == kServeOnceDone) {
    // The host's close shows on the master once our own slave is gone.
    CloseFd(line.slave);
    LingerUntilHostCloses(fd, stop);
  }
  CloseFd(line.slave);
  fcntl(fd, F_SETFL, flags);
  errno = savedErrno;
  return result;
}

int ServeDevice(int fd, const DeviceOptions& options, const volatile bool* stop) {
  DeviceSession session(options);
  return ServeSession(fd, session, stop, false);
}

SimDevice::~SimDevice() = default;

bool SimDevice::Start(const DeviceOptions& options, std::string* error) {
  if (thread_.joinable()) {
    if (error) *error = "the device is already running on " + path_;
    return false;
  }
  if (options.id.size() != 6) {
    if (error) *error = "the device id must be 6 bytes, not " + std::to_string(options.id.size());
    return false;
  }
  if (!Open(error)) return false;
  session_ = std::make_unique<DeviceSession>(options);
  stop_ = false;
  hungUp_ = false;
  lineError_ = 0;
  thread_ = std::thread(&SimDevice::Run, this);
  return true;
}

void SimDevice::Run() {
  int result = Serve(*session_, [this] { return stop_.load(); });
  if (result == kServeHungUp) {
    Close();
    hungUp_ = true;
  } else if (result == kServeError) {
    lineError_ = errno ? errno : EIO;
  }
}

void SimDevice::Stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  Close();
}

std::vector<uint8_t> SimDevice::Received() const {
  return session_ ? session_->Received() : std::vector<uint8_t>();
}

int SimDevice::DumpRequests() const { return session_ ? session_->DumpRequests() : 0; }

int SimDevice::IdentifyRequests() const { return session_ ? session_->IdentifyRequests() : 0; }

int SimDevice::TransfersEnded() const { return session_ ? session_->TransfersEnded() : 0; }

PtyDevice::PtyDevice() = default;

PtyDevice::~PtyDevice() { Stop(); }

bool PtyDevice::Open(std::string* error) {
  std::string name;
  if (!OpenPseudoTerminal(&master_, &name, error)) return false;
  // Our own slave descriptor keeps the line alive while the host closes and
  // reopens it.
  slave_ = open(name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  int flags = slave_ < 0 ? -1 : fcntl(master_, F_GETFL);
  if (flags < 0 || fcntl(master_, F_SETFL, flags | O_NONBLOCK) < 0) {
    if (error) *error = "cannot hold " + name + " open: " + std::strerror(errno);
    Close();
    return false;
  }
  path_ = name;
  return true;
}

int PtyDevice::Serve(DeviceSession& session, const std::function<bool()>& stopRequested) {
  RawFraming framing;
  HostLine line;
  line.fd = master_;
  line.slave = slave_;
  line.framing = &framing;
  return ServeLine(line, session, stopRequested, false);
}

void PtyDevice::Close() {
  CloseFd(slave_);
  CloseFd(master_);
}

uint32_t PtyDevice::LineSpeed() const {
  termios mode;
  if (slave_ < 0 || tcgetattr(slave_, &mode) != 0) return 0;
  return BitsPerSecond(cfgetospeed(&mode));
}
