#include "sim/line_framing.h"

using namespace telnet;

LineFraming::~LineFraming() = default;

void RawFraming::FromHost(const uint8_t* bytes, size_t count, std::vector<uint8_t>* heard,
                          std::vector<uint8_t>*) {
  heard->insert(heard->end(), bytes, bytes + count);
}

void RawFraming::ToHost(const uint8_t* bytes, size_t count, std::vector<uint8_t>* out) {
  out->insert(out->end(), bytes, bytes + count);
}

// The server takes the line binary and without go-aheads both ways, and lets
// the host set its line; it refuses everything else (its echo above all).
Rfc2217Framing::Rfc2217Framing(LineSettings* settings, size_t overrunAt)
    : options_({kBinary, kSuppressGoAhead}, {kComPort, kBinary, kSuppressGoAhead}),
      settings_(settings),
      overrunAt_(overrunAt) {}

void Rfc2217Framing::FromHost(const uint8_t* bytes, size_t count, std::vector<uint8_t>* heard,
                              std::vector<uint8_t>* reply) {
  std::vector<TelnetCommand> commands;
  decoder_.Feed(bytes, count, heard, &commands);
  for (const TelnetCommand& command : commands) {
    if (command.verb == kSb) {
      Answer(command, reply);
    } else {
      options_.Handle(command.verb, command.option, reply);
    }
  }
}

void Rfc2217Framing::ToHost(const uint8_t* bytes, size_t count, std::vector<uint8_t>* out) {
  TelnetEscape(bytes, count, out);
  bool overran = overrunAt_ > 0 && sent_ < overrunAt_ && sent_ + count >= overrunAt_;
  sent_ += count;
  if (overran && (lineStateMask_ & kLineOverrun)) {
    TelnetSubnegotiate(kComPort, {kNotifyLineState + kServerReply, kLineOverrun}, out);
  }
}

// Every COM-PORT-OPTION command is answered with its number plus 100 and the
// value now in force: the one asked, or the current one for a query (0).
void Rfc2217Framing::Answer(const TelnetCommand& command, std::vector<uint8_t>* reply) {
  if (command.option != kComPort || command.payload.empty() || !options_.RemoteOn(kComPort)) return;
  const uint8_t what = command.payload[0];
  if (what >= kServerReply) return;
  uint32_t value = 0;
  for (size_t i = 1; i < command.payload.size() && i <= 4; ++i) value = value << 8 | command.payload[i];
  std::atomic<uint32_t>* kept = nullptr;
  switch (what) {
    case kSetBaudRate: kept = &settings_->baud; break;
    case kSetDataSize: kept = &settings_->dataBits; break;
    case kSetParity: kept = &settings_->parity; break;
    case kSetStopSize: kept = &settings_->stopBits; break;
    case kSetControl: kept = &settings_->control; break;
    default: break;
  }
  if (kept) {
    if (value != 0) kept->store(value);
    value = kept->load();
  }
  if (what == kSetLineStateMask) lineStateMask_ = static_cast<uint8_t>(value);
  std::vector<uint8_t> answer = command.payload;
  answer[0] = static_cast<uint8_t>(what + kServerReply);
  if (kept) {
    int size = what == kSetBaudRate ? 4 : 1;
    answer.resize(1);
    for (int shift = 8 * (size - 1); shift >= 0; shift -= 8) answer.push_back(static_cast<uint8_t>(value >> shift));
  }
  TelnetSubnegotiate(kComPort, answer, reply);
}
