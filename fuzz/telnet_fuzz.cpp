// libFuzzer target: the Telnet decoder and option negotiation on any bytes a
// device server may send. However the bytes are cut into pieces the decoder
// gives the same line bytes and commands; it keeps no more than its bound of
// a subnegotiation; what TelnetEscape makes of the line's bytes decodes back
// to them; and the options answer at most once per request (no loops).
//
//   byte 0   the size of the pieces the stream is fed in (0: all at once)
//   then     the stream
#include <cstdlib>
#include <vector>

#include "link/telnet.h"

namespace {

using Bytes = std::vector<uint8_t>;

void Check(bool condition) {
  if (!condition) std::abort();
}

struct Decoded {
  Bytes data;
  std::vector<TelnetCommand> commands;
  bool broken = false;
};

Decoded Decode(const uint8_t* bytes, size_t size, size_t piece) {
  TelnetDecoder decoder;
  Decoded out;
  if (piece == 0) piece = size ? size : 1;
  for (size_t at = 0; at < size; at += piece) {
    size_t n = size - at < piece ? size - at : piece;
    decoder.Feed(bytes + at, n, &out.data, &out.commands);
  }
  out.broken = decoder.broken();
  return out;
}

bool Same(const TelnetCommand& a, const TelnetCommand& b) {
  return a.verb == b.verb && a.option == b.option && a.payload == b.payload;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t piece = data[0];
  const uint8_t* stream = data + 1;
  const size_t length = size - 1;

  Decoded whole = Decode(stream, length, 0);
  Decoded pieces = Decode(stream, length, piece);
  Check(whole.broken == pieces.broken);
  Check(whole.data == pieces.data);
  Check(whole.commands.size() == pieces.commands.size());
  for (size_t i = 0; i < whole.commands.size(); ++i) Check(Same(whole.commands[i], pieces.commands[i]));

  // Bounded: no more line bytes than came, no subnegotiation past its bound.
  Check(whole.data.size() <= length);
  for (const TelnetCommand& command : whole.commands) {
    Check(command.payload.size() <= TelnetDecoder::kMaxPayload);
    Check(command.verb == telnet::kSb || command.payload.empty());
  }

  // The line's bytes escaped come back as they were, with no command.
  Bytes escaped;
  TelnetEscape(whole.data.data(), whole.data.size(), &escaped);
  Decoded back = Decode(escaped.data(), escaped.size(), piece);
  Check(back.data == whole.data && back.commands.empty() && !back.broken);

  // The options as the RFC 2217 line keeps them: an answer is one
  // negotiation, and a request about an option this end takes part in is
  // answered once, not again when it comes again (no loops). An option it
  // does not take part in is refused each time it is asked for.
  TelnetOptions options({telnet::kComPort, telnet::kBinary, telnet::kSuppressGoAhead},
                        {telnet::kBinary, telnet::kSuppressGoAhead});
  Bytes out;
  options.Offer(telnet::kComPort, &out);
  options.Offer(telnet::kBinary, &out);
  options.Ask(telnet::kBinary, &out);
  for (const TelnetCommand& command : whole.commands) {
    if (command.verb == telnet::kSb) continue;
    Bytes answer;
    options.Handle(command.verb, command.option, &answer);
    Check(answer.empty() || answer.size() == 3);
    const bool local = command.verb == telnet::kDo || command.verb == telnet::kDont;
    const uint8_t option = command.option;
    const bool takesPart = option == telnet::kBinary || option == telnet::kSuppressGoAhead ||
                           (local && option == telnet::kComPort);
    Bytes again;
    options.Handle(command.verb, command.option, &again);
    Check(!takesPart || again.empty());
  }
  return 0;
}
