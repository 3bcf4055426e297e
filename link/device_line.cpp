#include "link/device_line.h"

DeviceLine::~DeviceLine() = default;

LineFaults& LineFaults::operator+=(const LineFaults& more) {
  overruns += more.overruns;
  queueOverflows += more.queueOverflows;
  framing += more.framing;
  parity += more.parity;
  return *this;
}

std::string LineFaults::Describe() const {
  struct Count {
    uint32_t value;
    const char* one;
    const char* many;
  };
  const Count counts[] = {
      {overruns, "overrun", "overruns"},
      {queueOverflows, "input queue overflow", "input queue overflows"},
      {framing, "framing error", "framing errors"},
      {parity, "parity error", "parity errors"},
  };
  std::string text;
  for (const Count& count : counts) {
    if (count.value == 0) continue;
    if (!text.empty()) text += ", ";
    text += std::to_string(count.value) + " " + (count.value == 1 ? count.one : count.many);
  }
  return text;
}
