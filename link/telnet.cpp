#include "link/telnet.h"

using namespace telnet;

void TelnetDecoder::Feed(const uint8_t* bytes, size_t count, std::vector<uint8_t>* data,
                         std::vector<TelnetCommand>* commands) {
  for (size_t i = 0; i < count; ++i) {
    const uint8_t byte = bytes[i];
    switch (state_) {
      case Data:
        if (byte == kIac) {
          state_ = Command;
        } else {
          data->push_back(byte);
        }
        break;
      case Command:
        if (byte == kIac) {  // IAC IAC: one 0xFF of the line
          data->push_back(byte);
          state_ = Data;
        } else if (byte == kWill || byte == kWont || byte == kDo || byte == kDont) {
          verb_ = byte;
          state_ = Option;
        } else if (byte == kSb) {
          state_ = SubOption;
        } else {
          state_ = Data;  // a command without an option
        }
        break;
      case Option: {
        TelnetCommand command;
        command.verb = verb_;
        command.option = byte;
        commands->push_back(command);
        state_ = Data;
        break;
      }
      case SubOption:
        sub_ = TelnetCommand();
        sub_.verb = kSb;
        sub_.option = byte;
        state_ = SubData;
        break;
      case SubData:
        if (byte == kIac) {
          state_ = SubIac;
        } else {
          TakeSubByte(byte);
        }
        break;
      case SubIac:
        if (byte == kIac) {
          state_ = SubData;
          TakeSubByte(byte);
        } else if (byte == kSe) {
          commands->push_back(sub_);
          state_ = Data;
        } else {
          // IAC and anything else inside a subnegotiation: a broken peer;
          // what came so far of it is dropped.
          state_ = Data;
        }
        break;
      case Broken:
        return;
    }
  }
}

void TelnetDecoder::TakeSubByte(uint8_t byte) {
  if (sub_.payload.size() < kMaxPayload) {
    sub_.payload.push_back(byte);
  } else {
    sub_ = TelnetCommand();
    state_ = Broken;
  }
}

void TelnetEscape(const uint8_t* bytes, size_t count, std::vector<uint8_t>* out) {
  for (size_t i = 0; i < count; ++i) {
    out->push_back(bytes[i]);
    if (bytes[i] == kIac) out->push_back(kIac);
  }
}

void TelnetNegotiate(uint8_t verb, uint8_t option, std::vector<uint8_t>* out) {
  out->push_back(kIac);
  out->push_back(verb);
  out->push_back(option);
}

void TelnetSubnegotiate(uint8_t option, const std::vector<uint8_t>& payload,
                        std::vector<uint8_t>* out) {
  out->push_back(kIac);
  out->push_back(kSb);
  out->push_back(option);
  TelnetEscape(payload.data(), payload.size(), out);
  out->push_back(kIac);
  out->push_back(kSe);
}

TelnetOptions::TelnetOptions(std::vector<uint8_t> local, std::vector<uint8_t> remote) {
  for (uint8_t option : local) localSupported_[option] = true;
  for (uint8_t option : remote) remoteSupported_[option] = true;
}

void TelnetOptions::Offer(uint8_t option, std::vector<uint8_t>* out) {
  if (local_[option] != Off) return;
  local_[option] = Asked;
  TelnetNegotiate(kWill, option, out);
}

void TelnetOptions::Ask(uint8_t option, std::vector<uint8_t>* out) {
  if (remote_[option] != Off) return;
  remote_[option] = Asked;
  TelnetNegotiate(kDo, option, out);
}

void TelnetOptions::Handle(uint8_t verb, uint8_t option, std::vector<uint8_t>* out) {
  switch (verb) {
    case kDo:
    case kDont:
      Answer(localSupported_[option], &local_[option], &localRefused_[option], verb == kDo, kWill,
             kWont, option, out);
      break;
    case kWill:
    case kWont:
      Answer(remoteSupported_[option], &remote_[option], &remoteRefused_[option], verb == kWill, kDo,
             kDont, option, out);
      break;
  }
}

// A request to enter the state an option is in already is not answered; an
// answer to our own request (Asked) is not answered either. An option that
// was asked for or on and is declined counts as refused.
void TelnetOptions::Answer(bool supported, State* state, bool* refused, bool yes, uint8_t agree,
                           uint8_t decline, uint8_t option, std::vector<uint8_t>* out) {
  if (yes) {
    if (!supported) {
      TelnetNegotiate(decline, option, out);
      return;
    }
    if (*state == Off) TelnetNegotiate(agree, option, out);
    *state = On;
    *refused = false;
    return;
  }
  if (*state == On) TelnetNegotiate(decline, option, out);
  if (*state != Off) *refused = true;
  *state = Off;
}
