#include "cli/add_line.h"

#include <cstdio>

std::string AddLine(const std::string& dump, const std::string& device, int64_t added, int64_t already,
                    int64_t repaired, size_t conflicts) {
  return dump + ": device " + device + ", " + std::to_string(added) + " new, " + std::to_string(already) +
         " already in the ledger, " + std::to_string(repaired) + " repaired, " + std::to_string(conflicts) +
         (conflicts == 1 ? " conflict\n" : " conflicts\n");
}

void SayDamagedCopy(const std::string& dump, int32_t number, const std::string& recordedAt) {
  std::fprintf(stderr,
               "%s: report %d of %s is a damaged copy (CRC mismatch) of a report the ledger holds intact; "
               "counted as held\n",
               dump.c_str(), static_cast<int>(number), recordedAt.c_str());
}

void SayRefused(const std::string& dump, const std::vector<int32_t>& numbers, const std::string& device) {
  // "2, 5, 9 and 12 more"
  constexpr size_t kNamed = 10;
  std::string first;
  for (size_t i = 0; i < numbers.size() && i < kNamed; ++i) first += (i ? ", " : "") + std::to_string(numbers[i]);
  if (numbers.size() > kNamed) first += " and " + std::to_string(numbers.size() - kNamed) + " more";
  std::fprintf(stderr,
               "%s: refused: its reports numbered %s differ from those the ledger holds for %s (another "
               "register under this id, or a memory altered since); nothing of it was added\n",
               dump.c_str(), first.c_str(), device.c_str());
}
