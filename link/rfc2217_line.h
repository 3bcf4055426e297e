#pragma once
// The line to the device through a serial device server that speaks Telnet
// with the COM-PORT-OPTION of RFC 2217: the program sets the server's serial
// line itself (the chosen speed, 8 data bits, no parity, 1 stop bit, no flow
// control) and reads back the values the server actually set. The line's
// bytes travel inside Telnet, 0xFF doubled both ways, in binary mode both
// ways (without it a server sends a CR as CR NUL); the server's notices of
// overrun, parity and framing errors on its line count as the line's faults.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "link/device_line.h"
#include "link/net_connection.h"
#include "link/telnet.h"

class Rfc2217Line : public DeviceLine {
 public:
  // How long the server may take to take up the option and binary mode, and
  // to confirm every setting.
  static constexpr int kNegotiationTimeoutMs = 3000;

  // Negotiates the COM-PORT-OPTION and binary mode over a fresh connection
  // and sets the line. Null when the server refuses the option or binary
  // mode, does not take them up in time, sets other values than asked, the
  // connection fails, or `stop` said so; *why then says which.
  static std::unique_ptr<Rfc2217Line> Open(std::unique_ptr<NetConnection> connection, uint32_t baud,
                                           std::string* why, const StopCheck& stop = StopCheck());

  // Waits until the server falls quiet, dropping the line's bytes that come
  // meanwhile (line_quiet.h).
  bool AwaitQuiet(const StopCheck& stop, std::string* why);

  int32_t Read(void* buffer, int32_t count) override;
  // A write cut short in the middle of a doubled 0xFF counts that byte as
  // written: its second half is owed and goes first with the next bytes
  // sent, so the server never sees the pair begun twice.
  int32_t Write(const void* bytes, int32_t count) override;
  int32_t InputWaiting() override;
  LineFaults TakeFaults() override;
  int ImageEndSilenceMs() const override;
  std::string FailureReason() const override { return failure_; }

 private:
  explicit Rfc2217Line(std::unique_ptr<NetConnection> connection);

  // The line's bytes that arrive within waitMs (Telnet taken out and
  // answered): their number, 0 when none came, -1 when the connection failed
  // or the server broke the protocol.
  int32_t Receive(char* buffer, int32_t count, int waitMs);
  // Takes in what arrives on the connection within waitMs (at most `most`
  // bytes): their number, 0 when nothing came, -1 when the connection failed
  // or the server broke the protocol (failure_ then says how).
  int32_t Pull(int waitMs, int32_t most = 4096);
  // Takes in what the connection holds now, without waiting.
  bool PullPending();
  void Take(const std::vector<TelnetCommand>& commands);
  // Sends what is owed and queued in out_ (answers, commands, then line
  // bytes), within the write time-out: false when not all of it went.
  bool Flush();
  // Sends bytes with what is owed first; gives how many of `bytes` went
  // (the owed byte not counted), or -1 when the connection failed.
  int32_t SendOwedFirst(const uint8_t* bytes, int32_t count);
  bool Negotiated() const;  // both binary directions and the option settled
  bool Binary() const;      // binary mode on in both directions

  std::unique_ptr<NetConnection> connection_;
  TelnetDecoder decoder_;
  TelnetOptions options_;
  std::vector<uint8_t> data_;  // the line's bytes received, not yet read
  size_t dataAt_ = 0;
  std::vector<uint8_t> out_;   // Telnet to send
  bool owesIac_ = false;       // the second half of a doubled 0xFF
  bool opened_ = false;
  std::string failure_;
  LineFaults faults_;
  // The server's answers to the settings, by command (kSetBaudRate...).
  bool answered_[6] = {};
  uint32_t answer_[6] = {};
};

// How many of `count` line bytes went whole when `sent` bytes of their
// escaped form (TelnetEscape) did; *halfSent tells whether the next byte, a
// 0xFF, went out half (its first IAC only).
int32_t TelnetBytesSent(const uint8_t* bytes, int32_t count, int32_t sent, bool* halfSent);
