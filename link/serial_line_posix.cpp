// The serial line over termios. The port is non-blocking in raw mode and
// every read is a poll() loop that reproduces the Windows port time-outs the
// device link was designed around: 500 ms between bytes, 1000 ms in all.
#include "link/serial_line.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/serial.h>
#endif

#include <cerrno>
#include <cstring>

#include "link/com_names.h"
#include "link/port_timeouts.h"
#include "link/run_state.h"
#include "link/sysfs_ports.h"

namespace {

speed_t SpeedCode(uint32_t baud) {
  switch (baud) {
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    default: return 0;
  }
}

// Raw 8N1 without any flow control (hardware handshake, XON/XOFF either way),
// whatever another program left on the port, as on Windows: the device
// drives no handshake line. Modem status lines are ignored (CLOCAL) for the
// same reason; the modem control lines keep what the port had.
void SetLine(int fd, uint32_t baud) {
  termios tio;
  if (tcgetattr(fd, &tio) != 0) return;
  tio.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY |
                   INPCK | IGNPAR);
#ifdef CRTSCTS  // not in POSIX itself, but wherever a port has it
  tio.c_cflag &= ~CRTSCTS;
#endif
  tio.c_oflag &= ~OPOST;
  tio.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB);
  tio.c_cflag |= CS8 | CREAD | CLOCAL;
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  if (speed_t code = SpeedCode(baud)) {
    cfsetispeed(&tio, code);
    cfsetospeed(&tio, code);
  }
  tcsetattr(fd, TCSANOW, &tio);
}

// The driver's counts of bytes lost or damaged on the wire. Only UARTs keep
// them (USB adapters mostly, pseudo-terminals never): false without them.
bool ReadFaultCounters(int fd, LineFaults* counts) {
#ifdef __linux__
  serial_icounter_struct counters;
  std::memset(&counters, 0, sizeof counters);
  if (ioctl(fd, TIOCGICOUNT, &counters) != 0) return false;
  counts->overruns = static_cast<uint32_t>(counters.overrun);
  counts->queueOverflows = static_cast<uint32_t>(counters.buf_overrun);
  counts->framing = static_cast<uint32_t>(counters.frame);
  counts->parity = static_cast<uint32_t>(counters.parity);
  return true;
#else
  (void)fd;
  (void)counts;
  return false;
#endif
}

class PosixSerialLine : public DeviceLine {
 public:
  explicit PosixSerialLine(int fd) : fd_(fd) { counted_ = ReadFaultCounters(fd_, &lastCounts_); }

  ~PosixSerialLine() override {
    // The exclusive mode outlives our descriptor when someone else still
    // holds the terminal open; leave the port as we found it.
    ioctl(fd_, TIOCNXCL);
    close(fd_);
  }

  int32_t Read(void* buffer, int32_t count) override {
    return ReadWithPortTimeouts(
        [this](char* at, int32_t n, int waitMs) { return Receive(at, n, waitMs); }, buffer, count);
  }

  int32_t Write(const void* bytes, int32_t count) override {
    using namespace port_timeouts;
    const char* data = static_cast<const char*>(bytes);
    const Clock::time_point deadline = Clock::now() + kWriteTotal;
    int32_t written = 0;
    while (written < count) {
      ssize_t n = write(fd_, data + written, static_cast<size_t>(count - written));
      if (n > 0) {
        written += static_cast<int32_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno != EAGAIN) return written ? written : -1;
      int wait = MsUntil(deadline);
      if (wait == 0) break;
      pollfd p = {fd_, POLLOUT, 0};
      if (poll(&p, 1, wait) < 0 && errno != EINTR) break;
    }
    return written;
  }

  int32_t InputWaiting() override {
    int waiting = 0;
    if (ioctl(fd_, FIONREAD, &waiting) != 0) return -1;
    return waiting;
  }

  LineFaults TakeFaults() override {
    LineFaults now;
    if (!counted_ || !ReadFaultCounters(fd_, &now)) return LineFaults();
    // The counters only grow (and wrap): the difference is what is new.
    LineFaults fresh;
    fresh.overruns = now.overruns - lastCounts_.overruns;
    fresh.queueOverflows = now.queueOverflows - lastCounts_.queueOverflows;
    fresh.framing = now.framing - lastCounts_.framing;
    fresh.parity = now.parity - lastCounts_.parity;
    lastCounts_ = now;
    return fresh;
  }

 private:
  int32_t Receive(char* at, int32_t n, int waitMs) {
    pollfd p = {fd_, POLLIN, 0};
    int ready = poll(&p, 1, waitMs);
    if (ready < 0) return errno == EINTR ? 0 : -1;
    if (ready == 0) return 0;
    ssize_t got = read(fd_, at, static_cast<size_t>(n));
    if (got > 0) return static_cast<int32_t>(got);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) return 0;
    // End of file or an error on a readable descriptor: the line hung up.
    return -1;
  }

  int fd_;
  bool counted_ = false;
  LineFaults lastCounts_;
};

}  // namespace

std::unique_ptr<DeviceLine> OpenSerialLine(const char* path, uint32_t baud) {
  int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  // Only a terminal is a serial line; and like Windows, not shared: a second
  // open of a port in use fails.
  if (!isatty(fd) || flock(fd, LOCK_EX | LOCK_NB) != 0) {
    close(fd);
    return nullptr;
  }
  ioctl(fd, TIOCEXCL);
  SetLine(fd, baud);
  return std::make_unique<PosixSerialLine>(fd);
}

std::vector<std::string> SerialPortPaths(const std::string& portName) {
  return PosixPortPaths(portName);
}

int ListComPorts(std::vector<std::string>* names) {
  std::memset(portPresent, 0, sizeof portPresent);
  std::vector<std::string> ports = SysfsSerialPorts("/sys/class/tty");
  for (const std::string& port : ports) {
    int number = ComNumberOfDevice(port);
    if (number >= 1 && number <= 255) portPresent[number] = 1;
    if (names) names->push_back("/dev/" + port);
  }
  return static_cast<int>(ports.size());
}
