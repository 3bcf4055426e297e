#include "fm/calendar.h"

int64_t PlatformLocalStandardTime(std::tm* parts) {
  parts->tm_isdst = 0;
  // _mktime64 itself gives -1 outside 1970-01-01 to 3000-12-31 23:59:59 UTC.
  __time64_t result = _mktime64(parts);
  int64_t seconds = static_cast<int64_t>(result);
  if (seconds < 0 || seconds > kLastCalendarTime) return -1;
  return seconds;
}
