#include "fm/calendar.h"

int64_t PlatformLocalStandardTime(std::tm* parts) {
  parts->tm_isdst = 0;
  time_t result = std::mktime(parts);
  int64_t seconds = static_cast<int64_t>(result);
  // Windows' converter covers 1970 to the end of 3000 only; keep every
  // platform to that same range so that filters agree everywhere.
  if (seconds < 0 || seconds > kLastCalendarTime) return -1;
  return seconds;
}
