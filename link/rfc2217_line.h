#pragma once
// The line to the device through a serial device server that speaks Telnet
// with the COM-PORT-OPTION of RFC 2217: the program sets the server's serial
// line itself (the chosen speed, 8 data bits, no parity, 1 stop bit, no flow
// control) and reads back the values the server actually set. The line's
// bytes travel inside Telnet, 0xFF doubled both ways; the server's notices of
// overrun, parity and framing errors on its line count as the line's faults.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "link/device_line.h"
#include "link/tcp_line.h"
#include "link/telnet.h"

class Rfc2217Line : public DeviceLine {
 public:
  // How long the server may take to take up the option and confirm every
  // setting.
  static constexpr int kNegotiationTimeoutMs = 3000;

  // Negotiates the COM-PORT-OPTION over a fresh connection and sets the
  // line. Null when the server refuses the option, does not take it up in
  // time, sets other values than asked, or the connection fails; *why then
  // says which.
  static std::unique_ptr<Rfc2217Line> Open(std::unique_ptr<TcpLine> connection, uint32_t baud,
                                           std::string* why);

  int32_t Read(void* buffer, int32_t count) override;
  int32_t Write(const void* bytes, int32_t count) override;
  int32_t InputWaiting() override;
  LineFaults TakeFaults() override;

 private:
  explicit Rfc2217Line(std::unique_ptr<TcpLine> connection);

  // The line's bytes that arrive within waitMs (Telnet taken out and
  // answered): their number, 0 when none came, -1 when the connection failed.
  int32_t Receive(char* buffer, int32_t count, int waitMs);
  // Takes in what arrives on the connection within waitMs (at most `most`
  // bytes): their number, 0 when nothing came, -1 when the connection failed.
  int32_t Pull(int waitMs, int32_t most = 4096);
  // Takes in what the connection holds now, without waiting.
  bool PullPending();
  void Take(const std::vector<TelnetCommand>& commands);
  bool Flush();  // sends the answers and commands queued in out_

  std::unique_ptr<TcpLine> connection_;
  TelnetDecoder decoder_;
  TelnetOptions options_;
  std::vector<uint8_t> data_;  // the line's bytes received, not yet read
  size_t dataAt_ = 0;
  std::vector<uint8_t> out_;   // Telnet to send
  LineFaults faults_;
  // The server's answers to the settings, by command (kSetBaudRate...).
  bool answered_[6] = {};
  uint32_t answer_[6] = {};
};
