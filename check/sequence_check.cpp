#include "check/sequence_check.h"

#include <utility>

namespace {

constexpr uint32_t kNumberRange = 65536;  // report numbers count on 16 bits

}  // namespace

void SequenceCheck::Note(const char* kind, int32_t number, const std::string& date,
                         std::optional<int64_t> offset, std::string detail) {
  Finding finding;
  finding.severity = FindingWarning;
  finding.kind = kind;
  finding.offset = offset;
  finding.report = number;
  finding.date = date;
  finding.detail = std::move(detail);
  findings_->push_back(std::move(finding));
}

void SequenceCheck::Add(int32_t number, const std::string& date, std::optional<int64_t> offset) {
  if (havePrevious_) {
    const std::string before = "report " + std::to_string(previousNumber_) + " (" + previousDate_ + ")";
    uint32_t ahead = (static_cast<uint32_t>(number) - static_cast<uint32_t>(previousNumber_)) % kNumberRange;
    if (ahead == 0) {
      Note("number-back", number, date, offset, "the number again, after " + before);
    } else if (ahead >= kNumberRange / 2) {
      Note("number-back", number, date, offset, "a lower number, after " + before);
    } else if (ahead > 1) {
      uint32_t first = (static_cast<uint32_t>(previousNumber_) + 1) % kNumberRange;
      uint32_t last = (static_cast<uint32_t>(number) + kNumberRange - 1) % kNumberRange;
      std::string missing = std::to_string(first);
      if (last != first) missing += "-" + std::to_string(last);
      Note("gap", number, date, offset, "missing " + missing + ", after " + before);
    }
    if (date < previousDate_) Note("clock-back", number, date, offset, "earlier than " + before);
  }
  havePrevious_ = true;
  previousNumber_ = number;
  previousDate_ = date;
}
