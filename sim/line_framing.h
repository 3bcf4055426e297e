#pragma once
// How the device's bytes travel between it and the host: as they are (a
// serial line, a raw TCP connection), or inside Telnet with the
// COM-PORT-OPTION of RFC 2217, where the simulator plays the serial device
// server too: it takes up the option, answers every setting with the value
// asked (as a server that sets its line does) and keeps what was set.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "link/telnet.h"

class LineFraming {
 public:
  virtual ~LineFraming();
  // Bytes from the host: what reaches the device is appended to *heard, the
  // server's answers for the host to *reply.
  virtual void FromHost(const uint8_t* bytes, size_t count, std::vector<uint8_t>* heard,
                        std::vector<uint8_t>* reply) = 0;
  // The device's bytes for the host, appended to *out.
  virtual void ToHost(const uint8_t* bytes, size_t count, std::vector<uint8_t>* out) = 0;
};

class RawFraming : public LineFraming {
 public:
  void FromHost(const uint8_t* bytes, size_t count, std::vector<uint8_t>* heard,
                std::vector<uint8_t>* reply) override;
  void ToHost(const uint8_t* bytes, size_t count, std::vector<uint8_t>* out) override;
};

// The line settings a host made through RFC 2217 (0: never set).
struct LineSettings {
  std::atomic<uint32_t> baud{0};
  std::atomic<uint32_t> dataBits{0};
  std::atomic<uint32_t> parity{0};
  std::atomic<uint32_t> stopBits{0};
  std::atomic<uint32_t> control{0};
};

class Rfc2217Framing : public LineFraming {
 public:
  // `settings` receives what the host sets; it must outlive the framing.
  // With overrunAt > 0 the server's line overruns once that many of the
  // device's bytes have gone to the host, and the server says so (NOTIFY-
  // LINESTATE), as far as the host's line state mask asks for it.
  explicit Rfc2217Framing(LineSettings* settings, size_t overrunAt = 0);
  void FromHost(const uint8_t* bytes, size_t count, std::vector<uint8_t>* heard,
                std::vector<uint8_t>* reply) override;
  void ToHost(const uint8_t* bytes, size_t count, std::vector<uint8_t>* out) override;

 private:
  void Answer(const TelnetCommand& command, std::vector<uint8_t>* reply);

  TelnetDecoder decoder_;
  TelnetOptions options_;
  LineSettings* settings_;
  size_t overrunAt_;
  size_t sent_ = 0;
  uint8_t lineStateMask_ = 0;
};
