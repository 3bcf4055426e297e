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

#include <cerrno>
#include <chrono>
#include <cstring>

#include "link/com_names.h"
#include "link/run_state.h"
#include "link/sysfs_ports.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr milliseconds kReadInterval{500};
constexpr milliseconds kReadTotal{1000};
constexpr milliseconds kWriteTotal{1000};

int Fd(PortHandle port) { return static_cast<int>(port); }

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

// Raw 8N1 without software flow control on output. Hardware handshake, input
// XON/XOFF and modem lines keep what the port had, as on Windows; modem status
// lines are ignored (CLOCAL) because the device drives none of them.
void SetLine(int fd, uint32_t baud) {
  termios tio;
  if (tcgetattr(fd, &tio) != 0) return;
  tio.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | INPCK);
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

// Milliseconds until `deadline` for poll(), rounded up so that a wait never
// ends just before its deadline and spins.
int MsUntil(Clock::time_point deadline) {
  auto left = std::chrono::ceil<milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

PortHandle SerialOpen(const char* path, uint32_t baud) {
  int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return kInvalidPort;
  // Only a terminal is a serial line; and like Windows, not shared: a second
  // open of a port in use fails.
  if (!isatty(fd) || flock(fd, LOCK_EX | LOCK_NB) != 0) {
    close(fd);
    return kInvalidPort;
  }
  ioctl(fd, TIOCEXCL);
  SetLine(fd, baud);
  return fd;
}

int32_t SerialRead(PortHandle port, void* buffer, int32_t count) {
  if (count <= 0) return 0;
  char* bytes = static_cast<char*>(buffer);
  const Clock::time_point total = Clock::now() + kReadTotal;
  Clock::time_point deadline = total;
  int32_t got = 0;
  while (got < count) {
    int wait = MsUntil(deadline);
    if (wait == 0) break;
    pollfd p = {Fd(port), POLLIN, 0};
    int ready = poll(&p, 1, wait);
    if (ready < 0 && errno != EINTR) return got ? got : -1;
    if (ready <= 0) continue;
    ssize_t n = read(Fd(port), bytes + got, static_cast<size_t>(count - got));
    if (n > 0) {
      got += static_cast<int32_t>(n);
      Clock::time_point interval = Clock::now() + kReadInterval;
      deadline = interval < total ? interval : total;
      continue;
    }
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    // End of file or an error on a readable descriptor: the line hung up.
    return got ? got : -1;
  }
  return got;
}

int32_t SerialWrite(PortHandle port, const void* bytes, int32_t count) {
  const char* data = static_cast<const char*>(bytes);
  const Clock::time_point deadline = Clock::now() + kWriteTotal;
  int32_t written = 0;
  while (written < count) {
    ssize_t n = write(Fd(port), data + written, static_cast<size_t>(count - written));
    if (n > 0) {
      written += static_cast<int32_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) return written ? written : -1;
    int wait = MsUntil(deadline);
    if (wait == 0) break;
    pollfd p = {Fd(port), POLLOUT, 0};
    if (poll(&p, 1, wait) < 0 && errno != EINTR) break;
  }
  return written;
}

int32_t SerialInputWaiting(PortHandle port) {
  int waiting = 0;
  if (ioctl(Fd(port), FIONREAD, &waiting) != 0) return -1;
  return waiting;
}

void SerialClose(PortHandle port) {
  if (port == kInvalidPort) return;
  // The exclusive mode outlives our descriptor when someone else still holds
  // the terminal open; leave the port as we found it.
  ioctl(Fd(port), TIOCNXCL);
  close(Fd(port));
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
