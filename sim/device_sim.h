#pragma once
// The fiscal device on a serial line (POSIX): on a fresh pseudo-terminal that
// a host opens like a COM port, on any open tty, or behind a TCP port as a
// serial device server would offer it (raw, or with RFC 2217).
//
// Like a real line: the device answers only well-formed frames (a dump only
// to its own id with a correct checksum), ignores garbage between frames,
// keeps serving after a dump, and stops streaming when the host stops
// reading for kStallSeconds (a device without flow control would lose
// those bytes anyway).
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "sim/device_session.h"
#include "sim/line_framing.h"

// Results of ServeDevice.
constexpr int kServeStopped = 0;   // *stop became true
constexpr int kServeOnceDone = 1;  // ServeSession with once: the first dump transfer ended
constexpr int kServeHungUp = 2;    // HangUp mode dropped the line; the caller closes it
constexpr int kServeError = -1;    // the line failed (errno tells why) or bad options
constexpr int kStallSeconds = 5;

// Plays the device on an already open file descriptor (a tty or pty master)
// until stopped / hang-up. The descriptor's flags are restored on return; on
// a pty master the slave is held open meanwhile so a host may close and
// reopen it.
int ServeDevice(int fd, const DeviceOptions& options, const volatile bool* stop);
// The same with an existing session (its counters stay readable) and, with
// once, a return after the first dump transfer ends (delivered, refused or
// abandoned) and the host has closed the line (or kStallSeconds later).
int ServeSession(int fd, DeviceSession& session, const volatile bool* stop, bool once);

// A new pseudo-terminal, set raw: *master to serve on, *path for the host.
bool OpenPseudoTerminal(int* master, std::string* path, std::string* error);

// A TCP socket listening on `hostPort` ("127.0.0.1:0", "[::1]:4001",
// "localhost:2217"; port 0 takes a free one): *fd, and in *bound the address
// actually bound, as HOST:PORT.
bool ListenTcp(const std::string& hostPort, int* fd, std::string* bound, std::string* error);

// Plays the device to the hosts that connect to the listening socket, one
// connection at a time: raw, or with `settings` given, behind the device
// server's side of RFC 2217 (the settings a host makes land there). A host
// may close its connection and connect again; the device keeps its state.
// Returns as ServeSession does; a hang-up closes the connection.
// With overrunAt > 0 the RFC 2217 server tells of an overrun on its line
// once that many of the device's bytes went to a host (Rfc2217Framing).
int ServeTcp(int listener, DeviceSession& session, LineSettings* settings, const volatile bool* stop,
             bool once, size_t overrunAt = 0);

// The device played in a background thread, for tests: on a new
// pseudo-terminal (PtyDevice) or on a loopback TCP port (TcpDevice).
class SimDevice {
 public:
  virtual ~SimDevice();
  SimDevice(const SimDevice&) = delete;
  SimDevice& operator=(const SimDevice&) = delete;

  bool Start(const DeviceOptions& options, std::string* error);
  // What the host opens: /dev/pts/7, tcp://127.0.0.1:40123, ...
  const std::string& path() const { return path_; }
  void Stop();
  std::vector<uint8_t> Received() const;  // every byte the host wrote (thread-safe copy)
  int DumpRequests() const;               // number of well-formed dump commands seen
  int IdentifyRequests() const;
  // Dump transfers that ended: delivered to the host, refused or hung up.
  int TransfersEnded() const;
  // True once HangUp mode closed the line (the path is then gone).
  bool hungUp() const { return hungUp_; }
  // The errno with which the line failed, 0 while it works.
  int lineError() const { return lineError_; }

 protected:
  SimDevice() = default;
  // Opens the line: sets path_; the thread then calls Serve.
  virtual bool Open(std::string* error) = 0;
  virtual int Serve(DeviceSession& session, const std::function<bool()>& stopRequested) = 0;
  virtual void Close() = 0;

  std::string path_;

 private:
  void Run();

  std::unique_ptr<DeviceSession> session_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> hungUp_{false};
  std::atomic<int> lineError_{0};
  std::thread thread_;
};

class PtyDevice : public SimDevice {
 public:
  PtyDevice();
  ~PtyDevice() override;  // stops and closes
  // The speed the pseudo-terminal is set to now (what the last program that
  // set it chose), in bits per second; 0 when it cannot be read.
  uint32_t LineSpeed() const;

 protected:
  bool Open(std::string* error) override;
  int Serve(DeviceSession& session, const std::function<bool()>& stopRequested) override;
  void Close() override;

 private:
  int master_ = -1;
  int slave_ = -1;
};

class TcpDevice : public SimDevice {
 public:
  // rfc2217: the device server's side of RFC 2217 too; path() then reads
  // rfc2217://127.0.0.1:PORT. overrunAt: as for ServeTcp.
  explicit TcpDevice(bool rfc2217 = false, size_t overrunAt = 0);
  ~TcpDevice() override;  // stops and closes
  // What a host set through RFC 2217.
  const LineSettings& settings() const { return settings_; }

 protected:
  bool Open(std::string* error) override;
  int Serve(DeviceSession& session, const std::function<bool()>& stopRequested) override;
  void Close() override;

 private:
  bool rfc2217_;
  size_t overrunAt_;
  int listener_ = -1;
  LineSettings settings_;
};
