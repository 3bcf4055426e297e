#include "fm/calendar.h"

namespace {

// 400 Gregorian years are exactly 146,097 days (and whole weeks).
constexpr int kCycleYears = 400;
constexpr int64_t kCycleSeconds = int64_t{146097} * 86400;

}  // namespace

int64_t PlatformLocalStandardTime(std::tm* parts) {
  parts->tm_isdst = 0;
  std::tm original = *parts;
  __time64_t result = _mktime64(parts);
  if (result == -1) {
    // The C runtime refuses a local date after 3000 (or before 1970) even when
    // its UTC time lies inside the range, as in the first hours of 3001 east
    // of Greenwich. It applies one standard offset to every year, so the same
    // fields 400 years nearer convert exactly, 400 years' seconds apart.
    std::tm shifted = original;
    int direction = original.tm_year > 700 ? -1 : 1;
    shifted.tm_year += direction * kCycleYears;
    __time64_t near = _mktime64(&shifted);
    if (near == -1) return -1;
    result = near - direction * kCycleSeconds;
    shifted.tm_year -= direction * kCycleYears;
    *parts = shifted;
  }
  int64_t seconds = static_cast<int64_t>(result);
  if (seconds < 0 || seconds > kLastCalendarTime) return -1;
  return seconds;
}
