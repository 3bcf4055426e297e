#pragma once
// The fiscal device on a serial line (POSIX): on a fresh pseudo-terminal that
// a host opens like a COM port, or on any open tty.
//
// Like a real line: the device answers only well-formed frames (a dump only
// to its own id with a correct checksum), ignores garbage between frames,
// keeps serving after a dump, and stops streaming when the host stops
// reading for kStallSeconds (a device without flow control would lose
// those bytes anyway).
#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "sim/device_session.h"

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

// Plays the device on a new pseudo-terminal (posix_openpt) in a background thread.
class PtyDevice {
 public:
  PtyDevice();
  ~PtyDevice();  // stops and closes
  PtyDevice(const PtyDevice&) = delete;
  PtyDevice& operator=(const PtyDevice&) = delete;

  bool Start(const DeviceOptions& options, std::string* error);
  const std::string& path() const { return path_; }  // e.g. /dev/pts/7: what the host opens
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

 private:
  void Run();

  std::unique_ptr<DeviceSession> session_;
  std::string path_;
  int master_ = -1;
  int slave_ = -1;
  std::atomic<bool> stop_{false};
  std::atomic<bool> hungUp_{false};
  std::atomic<int> lineError_{0};
  std::thread thread_;
};
