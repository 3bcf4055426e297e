#include "sim/command_args.h"

#include <cstdio>

#include "sim/sim_commands.h"

CommandArgs::CommandArgs(const char* command, int argc, char** argv)
    : command_(command), argc_(argc), argv_(argv) {}

bool CommandArgs::Next(std::string* name) {
  if (failed_ || next_ >= argc_) return false;
  std::string arg = argv_[next_++];
  if (arg.size() < 3 || arg.compare(0, 2, "--") != 0) return Fail("unexpected argument '" + arg + "'");
  size_t equals = arg.find('=');
  hasInlineValue_ = equals != std::string::npos;
  inlineValue_ = hasInlineValue_ ? arg.substr(equals + 1) : std::string();
  name_ = arg.substr(0, equals);
  *name = name_;
  return true;
}

bool CommandArgs::Value(std::string* value) {
  if (hasInlineValue_) {
    *value = inlineValue_;
    return true;
  }
  if (next_ >= argc_) return Fail(name_ + " needs a value");
  *value = argv_[next_++];
  return true;
}

bool CommandArgs::Number(uint64_t min, uint64_t max, uint64_t* value) {
  std::string text;
  if (!Value(&text)) return false;
  uint64_t number = 0;
  bool ok = !text.empty() && text.size() <= 20;
  for (char c : text) {
    if (c < '0' || c > '9') {
      ok = false;
      break;
    }
    uint64_t digit = static_cast<uint64_t>(c - '0');
    if (number > (UINT64_MAX - digit) / 10) {
      ok = false;
      break;
    }
    number = number * 10 + digit;
  }
  if (!ok || number < min || number > max)
    return Fail(name_ + " takes a number from " + std::to_string(min) + " to " + std::to_string(max) + ", not '" +
                text + "'");
  *value = number;
  return true;
}

bool CommandArgs::Flag() {
  if (hasInlineValue_) return Fail(name_ + " takes no value");
  return true;
}

bool CommandArgs::Fail(const std::string& message) {
  if (!failed_)
    std::fprintf(stderr, "taxoscope-sim %s: %s\n'taxoscope-sim %s --help' lists the options.\n", command_,
                 message.c_str(), command_);
  failed_ = true;
  return false;
}

int Failure(const char* command, const std::string& message) {
  std::fprintf(stderr, "taxoscope-sim %s: %s\n", command, message.c_str());
  return kExitFailure;
}
