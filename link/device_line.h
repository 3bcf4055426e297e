#pragma once
// The line to the fiscal device: the few operations the port transfers
// (serial_port.h) are built on. Three kinds stand behind it, chosen by the
// port's name (OpenComPort): a local serial port (serial_line_*.cpp), a raw
// TCP connection to a serial device server (tcp_line.h) and Telnet with the
// COM-PORT-OPTION of RFC 2217 over such a connection (rfc2217_line.h).
//
// Every kind keeps the time-outs of a serial port set to 8N1: a read of n
// bytes returns as soon as n bytes are in, 500 ms after the last byte that
// came, or 1000 ms after the call, whichever is first, so it gives 0 bytes
// only after a whole silent second; a write gives up after 1000 ms. The loops
// above rely on each read waiting about a second at most.
#include <cstdint>
#include <functional>
#include <string>

// Asked while a line is being opened (a name looked up, a connection made,
// RFC 2217 negotiated), at least every kStopSliceMs: true gives the opening
// up at once. The caller's own test, such as "did the user press STOP".
using StopCheck = std::function<bool()>;
constexpr int kStopSliceMs = 50;

// Bytes the line lost or took in damaged, as its driver or device server
// counted them.
struct LineFaults {
  uint32_t overruns = 0;        // the port's receiver was overrun (a byte lost)
  uint32_t queueOverflows = 0;  // the input queue was full (bytes lost)
  uint32_t framing = 0;         // framing errors (a byte damaged)
  uint32_t parity = 0;          // parity errors (a byte damaged)

  bool any() const { return overruns || queueOverflows || framing || parity; }
  LineFaults& operator+=(const LineFaults& more);
  // "2 overruns, 1 framing error": the counts that are not 0.
  std::string Describe() const;
};

class DeviceLine {
 public:
  virtual ~DeviceLine();  // closes the line

  // Reads up to `count` bytes under the time-outs above. Gives the number of
  // bytes read (0 on time-out), or -1 when the line failed (a device
  // unplugged, a terminal or a connection hung up).
  virtual int32_t Read(void* buffer, int32_t count) = 0;

  // Writes `count` bytes within 1000 ms. Gives the number written, or -1.
  virtual int32_t Write(const void* bytes, int32_t count) = 0;

  // Clears the line's error state and gives the number of bytes waiting in
  // the input queue, or -1 when the status could not be read.
  virtual int32_t InputWaiting() = 0;

  // The faults the line noticed since the last call (or since it opened);
  // counting starts afresh.
  virtual LineFaults TakeFaults() { return LineFaults(); }

  // False for a line whose speed is set elsewhere (a raw TCP line runs at
  // whatever its device server is set to): the speed given at open is unused.
  virtual bool SetsSpeed() const { return true; }

  // How long the device must have been silent before a block read that
  // brings nothing ends its image, in milliseconds. 0 on a local serial line:
  // there the first silent block ends it. A network line waits longer, so
  // that a stall of the network between the device server and the program
  // is not taken for the image's end.
  virtual int ImageEndSilenceMs() const { return 0; }

  // After a read failed (-1): why, when the line knows more than that it
  // went away (a device server that broke its protocol). Empty otherwise.
  virtual std::string FailureReason() const { return std::string(); }

  DeviceLine() = default;
  DeviceLine(const DeviceLine&) = delete;
  DeviceLine& operator=(const DeviceLine&) = delete;
};
