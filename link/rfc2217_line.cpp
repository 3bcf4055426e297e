#include "link/rfc2217_line.h"

#include <algorithm>

#include "link/line_quiet.h"
#include "link/port_timeouts.h"
#include "link/tcp_line.h"

using namespace telnet;

namespace {

using port_timeouts::Clock;
using port_timeouts::MsUntil;

// The settings the line is set to, in the order they are sent; each is
// confirmed by the server's answer.
struct Setting {
  uint8_t command;
  const char* what;  // for a message about a value the server set otherwise
};
const Setting kSettings[] = {
    {kSetBaudRate, "baud"},
    {kSetDataSize, "data bits"},
    {kSetParity, "parity"},
    {kSetStopSize, "stop bits"},
    {kSetControl, "flow control"},
};

std::vector<uint8_t> Value(uint8_t command, uint32_t value, int size) {
  std::vector<uint8_t> payload = {command};
  for (int shift = 8 * (size - 1); shift >= 0; shift -= 8)
    payload.push_back(static_cast<uint8_t>(value >> shift));
  return payload;
}

// How the server's value reads in a message: a number, or the RFC's meaning.
std::string ValueText(uint8_t command, uint32_t value) {
  if (command == kSetParity && value == kParityNone) return "none";
  if (command == kSetControl && value == kNoFlowControl) return "none";
  return std::to_string(value);
}

// A wait of the negotiation: a slice, so that a stop is seen in time.
int Slice(Clock::time_point deadline) {
  int left = MsUntil(deadline);
  return left < kStopSliceMs ? left : kStopSliceMs;
}

}  // namespace

int32_t TelnetBytesSent(const uint8_t* bytes, int32_t count, int32_t sent, bool* halfSent) {
  *halfSent = false;
  int32_t at = 0;
  for (int32_t whole = 0; whole < count; ++whole) {
    const int32_t size = bytes[whole] == kIac ? 2 : 1;
    if (at + size > sent) {
      *halfSent = size == 2 && at + 1 == sent;
      return whole;
    }
    at += size;
  }
  return count;
}

Rfc2217Line::Rfc2217Line(std::unique_ptr<NetConnection> connection)
    : connection_(std::move(connection)),
      // The program offers the COM-PORT-OPTION and takes the line 8-bit
      // clean (binary) and without go-aheads both ways; the server's echo
      // and everything else are refused.
      options_({kComPort, kBinary, kSuppressGoAhead}, {kBinary, kSuppressGoAhead}) {}

bool Rfc2217Line::Binary() const { return options_.LocalOn(kBinary) && options_.RemoteOn(kBinary); }

bool Rfc2217Line::Negotiated() const {
  auto settled = [](bool on, bool refused) { return on || refused; };
  return settled(options_.LocalOn(kComPort), options_.LocalRefused(kComPort)) &&
         settled(options_.LocalOn(kBinary), options_.LocalRefused(kBinary)) &&
         settled(options_.RemoteOn(kBinary), options_.RemoteRefused(kBinary));
}

std::unique_ptr<Rfc2217Line> Rfc2217Line::Open(std::unique_ptr<NetConnection> connection, uint32_t baud,
                                               std::string* why, const StopCheck& stop) {
  std::unique_ptr<Rfc2217Line> line(new Rfc2217Line(std::move(connection)));
  auto fail = [&](const std::string& reason) {
    if (why) *why = reason;
    return nullptr;
  };
  // The connection ended (or the server broke the protocol) while the line
  // was being set.
  auto ended = [&] {
    return fail(line->failure_.empty() ? ClosedByServer(line->data_) : line->failure_);
  };
  // A send failed: the server closed the connection, perhaps after saying
  // why ("Port already in use"), which may still wait to be read.
  auto lost = [&] {
    for (int i = 0; i < 4 && line->Pull(kStopSliceMs) > 0; ++i) {
    }
    return ended();
  };
  const std::string seconds = std::to_string(kNegotiationTimeoutMs / 1000);

  line->options_.Offer(kComPort, &line->out_);
  line->options_.Offer(kBinary, &line->out_);
  line->options_.Ask(kBinary, &line->out_);
  line->options_.Ask(kSuppressGoAhead, &line->out_);
  if (!line->Flush()) return lost();

  auto deadline = Clock::now() + std::chrono::milliseconds(kNegotiationTimeoutMs);
  while (!line->Negotiated() && !line->options_.LocalRefused(kComPort)) {
    if (stop && stop()) return fail(kOpeningStopped);
    if (MsUntil(deadline) == 0) {
      if (!line->options_.LocalOn(kComPort)) {
        return fail("no answer to the COM-PORT-OPTION of RFC 2217 within " + seconds +
                    " seconds (for a raw TCP port use tcp://)");
      }
      return fail("no answer to binary transmission within " + seconds + " seconds");
    }
    if (line->Pull(Slice(deadline)) < 0) return ended();
  }
  if (line->options_.LocalRefused(kComPort)) {
    return fail("the device server refuses the COM-PORT-OPTION of RFC 2217, so it cannot set the "
                "line (for a raw TCP port use tcp://)");
  }
  // Without binary mode a Telnet server may change the line's bytes on the
  // way: a CR then travels as CR NUL.
  if (!line->options_.RemoteOn(kBinary)) {
    return fail("the device server refuses binary transmission to the program (a CR of the image "
                "would come as CR NUL)");
  }
  if (!line->options_.LocalOn(kBinary)) {
    return fail("the device server refuses binary transmission from the program");
  }

  const uint32_t wanted[6] = {0, baud, 8, kParityNone, kOneStopBit, kNoFlowControl};
  std::vector<uint8_t>& out = line->out_;
  TelnetSubnegotiate(kComPort, Value(kSetBaudRate, baud, 4), &out);
  for (const Setting& setting : kSettings) {
    if (setting.command != kSetBaudRate)
      TelnetSubnegotiate(kComPort, Value(setting.command, wanted[setting.command], 1), &out);
  }
  // Tell of overruns and damaged bytes on the server's line, and of nothing
  // about the modem lines, which the device does not drive.
  TelnetSubnegotiate(kComPort,
                     Value(kSetLineStateMask, kLineOverrun | kLineParityError | kLineFramingError, 1),
                     &out);
  TelnetSubnegotiate(kComPort, Value(kSetModemStateMask, 0, 1), &out);
  if (!line->Flush()) return lost();

  line->opened_ = true;  // from here on binary mode must stay
  deadline = Clock::now() + std::chrono::milliseconds(kNegotiationTimeoutMs);
  for (const Setting& setting : kSettings) {
    while (!line->answered_[setting.command]) {
      if (stop && stop()) return fail(kOpeningStopped);
      if (MsUntil(deadline) == 0) {
        return fail("the device server did not confirm the line's " + std::string(setting.what) +
                    " within " + seconds + " seconds");
      }
      if (line->Pull(Slice(deadline)) < 0) return ended();
    }
    uint32_t set = line->answer_[setting.command];
    if (set != wanted[setting.command]) {
      return fail("the device server set " + std::string(setting.what) + " " +
                  ValueText(setting.command, set) + ", not " +
                  ValueText(setting.command, wanted[setting.command]) + " as asked");
    }
  }
  return line;
}

bool Rfc2217Line::AwaitQuiet(const StopCheck& stop, std::string* why) {
  return ::AwaitQuiet(
      [this](uint8_t* at, int32_t n, int waitMs) { return Receive(reinterpret_cast<char*>(at), n, waitMs); },
      false, stop, why);
}

int Rfc2217Line::ImageEndSilenceMs() const { return TcpLine::kImageEndSilenceMs; }

int32_t Rfc2217Line::Read(void* buffer, int32_t count) {
  return ReadWithPortTimeouts(
      [this](char* at, int32_t n, int waitMs) { return Receive(at, n, waitMs); }, buffer, count);
}

int32_t Rfc2217Line::Write(const void* bytes, int32_t count) {
  if (count <= 0) return 0;
  if (!failure_.empty()) return -1;
  const uint8_t* data = static_cast<const uint8_t*>(bytes);
  std::vector<uint8_t> escaped;
  escaped.reserve(static_cast<size_t>(count) + 16);
  TelnetEscape(data, static_cast<size_t>(count), &escaped);
  int32_t sent = SendOwedFirst(escaped.data(), static_cast<int32_t>(escaped.size()));
  if (sent < 0) return -1;
  if (sent == static_cast<int32_t>(escaped.size())) return count;
  // Cut short: the line's bytes whose whole encoding went out, and a 0xFF
  // whose first half did, its second half owed.
  bool halfSent = false;
  int32_t whole = TelnetBytesSent(data, count, sent, &halfSent);
  if (halfSent) {
    owesIac_ = true;
    ++whole;
  }
  return whole;
}

int32_t Rfc2217Line::InputWaiting() {
  if (!PullPending()) return -1;
  return static_cast<int32_t>(data_.size() - dataAt_);
}

LineFaults Rfc2217Line::TakeFaults() {
  // The server's notices that have arrived count too.
  PullPending();
  LineFaults taken = faults_;
  faults_ = LineFaults();
  return taken;
}

int32_t Rfc2217Line::Receive(char* buffer, int32_t count, int waitMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(waitMs);
  for (;;) {
    size_t held = data_.size() - dataAt_;
    if (held > 0) {
      size_t n = held < static_cast<size_t>(count) ? held : static_cast<size_t>(count);
      std::copy(data_.begin() + static_cast<long>(dataAt_),
                data_.begin() + static_cast<long>(dataAt_ + n), buffer);
      dataAt_ += n;
      if (dataAt_ == data_.size()) {
        data_.clear();
        dataAt_ = 0;
      }
      return static_cast<int32_t>(n);
    }
    // Telnet alone (an answer, a notice) is not the line's bytes: wait on.
    // The line's bytes that came before a failure are given first.
    if (Pull(MsUntil(deadline)) < 0 && data_.size() == dataAt_) return -1;
    if (data_.size() == dataAt_ && MsUntil(deadline) == 0) return 0;
  }
}

int32_t Rfc2217Line::Pull(int waitMs, int32_t most) {
  if (!failure_.empty()) return -1;
  uint8_t raw[4096];
  int32_t room = most < static_cast<int32_t>(sizeof raw) ? most : static_cast<int32_t>(sizeof raw);
  int32_t got = connection_->Receive(raw, room, waitMs);
  if (got <= 0) return got;
  std::vector<TelnetCommand> commands;
  decoder_.Feed(raw, static_cast<size_t>(got), &data_, &commands);
  Take(commands);
  if (decoder_.broken()) {
    failure_ = "the device server sent a Telnet subnegotiation of more than " +
               std::to_string(TelnetDecoder::kMaxPayload) + " bytes without its end";
  }
  if (!failure_.empty()) return -1;
  return Flush() ? got : -1;
}

bool Rfc2217Line::PullPending() {
  // What is there now, not what a streaming device goes on sending meanwhile.
  int32_t pending = connection_->Pending();
  if (pending < 0) return false;
  while (pending > 0) {
    int32_t got = Pull(0, pending);
    if (got < 0) return false;
    if (got == 0) break;
    pending -= got;
  }
  return true;
}

void Rfc2217Line::Take(const std::vector<TelnetCommand>& commands) {
  for (const TelnetCommand& command : commands) {
    if (command.verb != kSb) {
      options_.Handle(command.verb, command.option, &out_);
      if (opened_ && !Binary() && failure_.empty()) {
        failure_ = "the device server turned binary transmission off";
      }
      continue;
    }
    if (command.option != kComPort || command.payload.empty()) continue;
    const uint8_t what = static_cast<uint8_t>(command.payload[0] - kServerReply);
    uint32_t value = 0;
    for (size_t i = 1; i < command.payload.size() && i <= 4; ++i) value = value << 8 | command.payload[i];
    if (what >= kSetBaudRate && what <= kSetControl) {
      answered_[what] = true;
      answer_[what] = value;
    } else if (what == kNotifyLineState && command.payload.size() >= 2) {
      const uint8_t state = command.payload[1];
      if (state & kLineOverrun) ++faults_.overruns;
      if (state & kLineParityError) ++faults_.parity;
      if (state & kLineFramingError) ++faults_.framing;
    }
  }
}

int32_t Rfc2217Line::SendOwedFirst(const uint8_t* bytes, int32_t count) {
  const int waitMs = static_cast<int>(port_timeouts::kWriteTotal.count());
  if (!owesIac_) return connection_->Send(bytes, count, waitMs);
  std::vector<uint8_t> wire;
  wire.reserve(static_cast<size_t>(count) + 1);
  wire.push_back(kIac);
  wire.insert(wire.end(), bytes, bytes + count);
  int32_t sent = connection_->Send(wire.data(), static_cast<int32_t>(wire.size()), waitMs);
  if (sent <= 0) return sent;
  owesIac_ = false;
  return sent - 1;
}

bool Rfc2217Line::Flush() {
  if (out_.empty() && !owesIac_) return true;
  int32_t sent = SendOwedFirst(out_.data(), static_cast<int32_t>(out_.size()));
  if (sent < 0) {
    out_.clear();
    return false;
  }
  out_.erase(out_.begin(), out_.begin() + sent);
  return out_.empty() && !owesIac_;
}
