#pragma once
// Telnet (RFC 854) as serial device servers speak it, with the
// COM-PORT-OPTION of RFC 2217 that sets the server's serial line.
//
// On the connection the line's bytes travel as they are, except 0xFF (IAC),
// which is doubled in both directions; IAC followed by anything else starts a
// command: IAC WILL/WONT/DO/DONT option negotiates an option, IAC SB option
// ... IAC SE carries an option's own commands. A COM-PORT-OPTION command is
// IAC SB 44 <command> <value> IAC SE; the client sends commands 1 to 12, the
// server answers each setting with the same command plus 100 and the value
// it actually set. Both ends of the link use this: the RFC 2217 line
// (rfc2217_line.h) and the simulator's device server.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace telnet {

constexpr uint8_t kIac = 255;
constexpr uint8_t kDont = 254;
constexpr uint8_t kDo = 253;
constexpr uint8_t kWont = 252;
constexpr uint8_t kWill = 251;
constexpr uint8_t kSb = 250;
constexpr uint8_t kSe = 240;

// Options.
constexpr uint8_t kBinary = 0;
constexpr uint8_t kEcho = 1;
constexpr uint8_t kSuppressGoAhead = 3;
constexpr uint8_t kComPort = 44;

// COM-PORT-OPTION commands of the client; the server's answer to command c
// is c + kServerReply.
constexpr uint8_t kSetBaudRate = 1;        // 4 bytes, big-endian
constexpr uint8_t kSetDataSize = 2;        // 8
constexpr uint8_t kSetParity = 3;          // 1 none
constexpr uint8_t kSetStopSize = 4;        // 1 one stop bit
constexpr uint8_t kSetControl = 5;         // 1 no flow control
constexpr uint8_t kNotifyLineState = 6;    // server to client: the line state bits
constexpr uint8_t kSetLineStateMask = 10;  // which line state bits to notify
constexpr uint8_t kSetModemStateMask = 11; // which modem state bits to notify
constexpr uint8_t kServerReply = 100;

constexpr uint8_t kParityNone = 1;
constexpr uint8_t kOneStopBit = 1;
constexpr uint8_t kNoFlowControl = 1;

// Line state bits that tell of bytes lost or damaged on the serial line.
constexpr uint8_t kLineOverrun = 0x02;
constexpr uint8_t kLineParityError = 0x04;
constexpr uint8_t kLineFramingError = 0x08;

}  // namespace telnet

// One negotiation (WILL, WONT, DO, DONT) or subnegotiation (SB) received.
struct TelnetCommand {
  uint8_t verb = 0;
  uint8_t option = 0;
  std::vector<uint8_t> payload;  // a subnegotiation's bytes, IAC IAC undone
};

// Splits what arrives on a connection into the line's bytes and the Telnet
// commands between them. Sequences may be cut anywhere between two calls.
class TelnetDecoder {
 public:
  // A subnegotiation longer than this is no COM-PORT-OPTION command (those
  // carry a few bytes, a server's signature a line of text): a peer that
  // sends one has lost its way, or never ends it and would swallow every
  // byte after it.
  static constexpr size_t kMaxPayload = 256;

  // Appends the line's bytes to *data and the negotiations and
  // subnegotiations to *commands; other commands (NOP, GA, ...) are dropped.
  // Once broken() nothing more is taken.
  void Feed(const uint8_t* bytes, size_t count, std::vector<uint8_t>* data,
            std::vector<TelnetCommand>* commands);

  // A subnegotiation ran past kMaxPayload without its IAC SE: which bytes
  // are the line's can no longer be told, so the stream is given up.
  bool broken() const { return state_ == Broken; }

 private:
  enum State { Data, Command, Option, SubOption, SubData, SubIac, Broken };

  void TakeSubByte(uint8_t byte);

  State state_ = Data;
  uint8_t verb_ = 0;
  TelnetCommand sub_;
};

// The line's bytes for the connection: every 0xFF doubled.
void TelnetEscape(const uint8_t* bytes, size_t count, std::vector<uint8_t>* out);
// IAC verb option.
void TelnetNegotiate(uint8_t verb, uint8_t option, std::vector<uint8_t>* out);
// IAC SB option payload IAC SE, with the payload's 0xFF bytes doubled.
void TelnetSubnegotiate(uint8_t option, const std::vector<uint8_t>& payload,
                        std::vector<uint8_t>* out);

// Which options are on at either end, negotiated so that no answer is sent
// to an answer (no loops): this end performs the options in `local` when
// asked (DO is answered WILL) and lets the other end perform those in
// `remote` (WILL is answered DO); every other option is refused.
class TelnetOptions {
 public:
  TelnetOptions(std::vector<uint8_t> local, std::vector<uint8_t> remote);

  // Offers to perform an option here (WILL), or asks the other end to (DO).
  void Offer(uint8_t option, std::vector<uint8_t>* out);
  void Ask(uint8_t option, std::vector<uint8_t>* out);

  // Takes a WILL, WONT, DO or DONT from the other end; appends the answer,
  // if one is due.
  void Handle(uint8_t verb, uint8_t option, std::vector<uint8_t>* out);

  bool LocalOn(uint8_t option) const { return local_[option] == On; }
  bool RemoteOn(uint8_t option) const { return remote_[option] == On; }
  // The other end answered an Offer with DONT (or an Ask with WONT), or
  // switched the option off after it was on; until it agrees again.
  bool LocalRefused(uint8_t option) const { return localRefused_[option]; }
  bool RemoteRefused(uint8_t option) const { return remoteRefused_[option]; }

 private:
  enum State : uint8_t { Off, Asked, On };
  void Answer(bool supported, State* state, bool* refused, bool yes, uint8_t agree,
              uint8_t decline, uint8_t option, std::vector<uint8_t>* out);

  bool localSupported_[256] = {};
  bool remoteSupported_[256] = {};
  State local_[256] = {};
  State remote_[256] = {};
  bool localRefused_[256] = {};
  bool remoteRefused_[256] = {};
};
