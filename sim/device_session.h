#pragma once
// The fiscal device's side of the protocol, without the line: host bytes go
// in, the reply to send comes out. The line loop (device_sim_posix.cpp) does
// the I/O, the pacing and the timing around it.
//
// Command frames from the host: 0xAA, address (none for identify, the six id
// bytes for dump), command byte, two checksum characters 0x30|(X>>4) and
// 0x30|(X&0x0F) where X is the XOR of everything from 0xAA through the command
// byte, then 0x0A.
//   identify: AA 3F 39 35 0A
//   dump:     AA id0..id5 43 c1 c2 0A
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

enum class DeviceMode {
  Normal,      // identify -> 0x0E + 6 id bytes + rest of line + CR LF; dump -> the image, then silence
  Silent,      // answers nothing at all
  BadReceipt,  // identify reply whose first byte is not 0x0E (0x15 "AB" CR LF, or badReceiptLine)
  LongReply,   // identify reply line of 2000 characters (over the host's 1024-byte buffer)
  Refuse,      // dump -> 0x15 0x0A, then silence
  NoDump,      // identify ok, nothing after the dump command
  Pause,       // image with a pause (600 ms, in the middle, unless set otherwise; must NOT end a transfer)
  Oversize,    // streams 2,200,000 bytes: the image, then erased bytes
  HangUp,      // stops in the middle of the image and hangs the line up
};

struct DeviceOptions {
  std::string id = "123456";  // six id bytes sent in the identify reply (any bytes)
  std::vector<uint8_t> image; // what the dump command streams (empty: GenerateDump with seed 1)
  DeviceMode mode = DeviceMode::Normal;
  long bytesPerSecond = 0;    // 0 = as fast as the line takes it; 11520 = 115200 baud
  std::string badReceiptLine; // BadReceipt: sent exactly as given instead of 0x15 "AB" CR LF
  // Pause: where the device pauses (0: in the middle of the image) and for
  // how long (a device that dies in mid-image while its line stays up is a
  // pause longer than any read waits).
  size_t pauseAt = 0;
  int pauseMs = 600;
};

// Mode names as the command line spells them: normal, silent, bad-receipt,
// long-reply, refuse, no-dump, pause, oversize, hang-up.
const char* DeviceModeName(DeviceMode mode);
bool ParseDeviceMode(const std::string& name, DeviceMode* mode);

// The 11-byte dump command for a six-byte id (what a host sends).
std::vector<uint8_t> DumpCommandFrame(const std::string& id);
extern const uint8_t kIdentifyFrame[5];

// Recognises command frames in the host's byte stream, garbage in between.
class CommandScanner {
 public:
  enum Command { None, Identify, Dump };
  // Feeds one byte; says which frame, if any, this byte completed. A dump
  // frame counts only with a correct checksum; its id is then dumpId().
  Command Feed(uint8_t byte);
  std::string dumpId() const { return dumpId_; }

 private:
  uint8_t window_[11] = {};
  size_t filled_ = 0;
  std::string dumpId_;
};

// What the device is sending now.
struct Transmission {
  static constexpr size_t kNoPause = static_cast<size_t>(-1);
  const std::vector<uint8_t>* bytes = nullptr;
  size_t length = 0;            // bytes to send (a hang-up stops short of the whole)
  size_t sent = 0;
  size_t pauseAt = kNoPause;    // the device stops for pauseMs before this offset
  int pauseMs = 0;
  bool hangUpAfter = false;     // then drop the line
  bool dump = false;            // the answer to a dump command
  unsigned generation = 0;      // changes with every new transmission
};

class DeviceSession {
 public:
  static constexpr size_t kOversizeLength = 2200000;

  // An empty image is replaced by GenerateDump with seed 1. The id must be
  // six bytes (checked by the callers that take it from a user).
  explicit DeviceSession(const DeviceOptions& options);

  const DeviceOptions& options() const { return options_; }

  // Host bytes in. A complete command starts its reply, replacing whatever
  // was still being sent (the device restarts on a new command).
  void Receive(const uint8_t* bytes, size_t count);

  // The reply being sent, or null when the device is quiet.
  Transmission* current() { return active_ ? &transmission_ : nullptr; }
  // The current transmission has been delivered (or given up); a dump or a
  // refusal then counts as an ended transfer.
  void Finish();

  // Thread-safe views for tests and the serve command.
  std::vector<uint8_t> Received() const;
  int IdentifyRequests() const;
  int DumpRequests() const;
  int TransfersEnded() const;

 private:
  void Start(const std::vector<uint8_t>* bytes, bool dump);

  DeviceOptions options_;
  CommandScanner scanner_;
  std::vector<uint8_t> identifyReply_;
  std::vector<uint8_t> refusal_;
  std::vector<uint8_t> oversize_;
  Transmission transmission_;
  bool active_ = false;
  unsigned generation_ = 0;

  mutable std::mutex mutex_;  // guards the counters and received_
  std::vector<uint8_t> received_;
  int identifyRequests_ = 0;
  int dumpRequests_ = 0;
  int transfersEnded_ = 0;
};
