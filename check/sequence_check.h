#pragma once
// The checks between consecutive daily reports of one device, fed one report
// at a time in the order the device wrote them (dump order; for a ledger,
// one device's reports in the order they were stored):
//   gap          b's number is ahead of a's by more than one: the detail
//                names the missing numbers "N-M" (or "N")
//   number-back  b's number is not ahead of a's: the same number again or a
//                lower one (a repeat or a restarted numbering)
//   clock-back   b's date-time is earlier than a's
// Report numbers count on 16 bits: 65535 is followed by 0. b is ahead of a
// when (b - a) mod 65536 is 1 to 32767. Dates are compared as the exports
// write them, YYYY-MM-DD HH:MM, which orders them in time. Gaps and numbers
// going back are warnings, as is a clock set back. Independent of the walk:
// the dump check and the ledger check both use it.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "check/finding.h"

class SequenceCheck {
 public:
  // Findings are appended to *findings, which must outlive the check.
  explicit SequenceCheck(std::vector<Finding>* findings) : findings_(findings) {}

  // The next daily report: its number (0..65535), its date-time as
  // YYYY-MM-DD HH:MM, and where it lies in a dump (none for a ledger).
  void Add(int32_t number, const std::string& date, std::optional<int64_t> offset = std::nullopt);

  // Forgets the report before, e.g. at the next device of a ledger.
  void Reset() { havePrevious_ = false; }

 private:
  void Note(const char* kind, int32_t number, const std::string& date, std::optional<int64_t> offset,
            std::string detail);

  std::vector<Finding>* findings_;
  bool havePrevious_ = false;
  int32_t previousNumber_ = 0;
  std::string previousDate_;
};
