#include "fm/calendar.h"

namespace {

bool IsLeap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month0) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month0 == 1 && IsLeap(year) ? 29 : kDays[month0];
}

// 0 for Sunday (Sakamoto's method).
int DayOfWeek(int year, int month, int day) {
  static const int kOffsets[12] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
  if (month < 3) year -= 1;
  return (year + year / 4 - year / 100 + year / 400 + kOffsets[month - 1] + day) % 7;
}

// Daily reports come in date order, about thirty to a month. The platform's
// conversion is costly, so it is asked only for the first second of a month
// and of the month after; when the two lie exactly the month's length apart,
// the standard offset did not change within the month and any time in it is
// the month's start plus its day, hour, minute and second. Each thread keeps
// its own month (the server's readers convert at once), so the hot path
// takes no lock and shares no line of memory.
struct MonthCache {
  bool valid = false;
  int year = 0;   // years since 1900
  int month = 0;  // 0..11
  int64_t start = 0;
};

thread_local MonthCache cache;

bool FieldsInRange(const std::tm& t) {
  return t.tm_mon >= 0 && t.tm_mon <= 11 && t.tm_mday >= 1 &&
         t.tm_mday <= DaysInMonth(t.tm_year + 1900, t.tm_mon) && t.tm_hour >= 0 && t.tm_hour <= 23 &&
         t.tm_min >= 0 && t.tm_min <= 59 && t.tm_sec >= 0 && t.tm_sec <= 59;
}

bool FillCache(int year, int month) {
  std::tm first{};
  first.tm_year = year;
  first.tm_mon = month;
  first.tm_mday = 1;
  std::tm next = first;
  next.tm_mon += 1;
  int64_t start = PlatformLocalStandardTime(&first);
  int64_t end = PlatformLocalStandardTime(&next);
  cache.valid = start != -1 && end != -1 &&
                end - start == int64_t{86400} * DaysInMonth(year + 1900, month);
  cache.year = year;
  cache.month = month;
  cache.start = start;
  return cache.valid;
}

}  // namespace

int64_t LocalStandardTimeToCalendar(std::tm* parts) {
  parts->tm_isdst = 0;
  if (!FieldsInRange(*parts)) return PlatformLocalStandardTime(parts);
  bool hit = cache.valid && cache.year == parts->tm_year && cache.month == parts->tm_mon;
  if (!hit && !FillCache(parts->tm_year, parts->tm_mon)) return PlatformLocalStandardTime(parts);

  int64_t seconds = cache.start + int64_t{86400} * (parts->tm_mday - 1) + 3600 * parts->tm_hour +
                    60 * parts->tm_min + parts->tm_sec;
  // The fields were already normal; complete the day of the week and year.
  int yday = parts->tm_mday - 1;
  for (int m = 0; m < parts->tm_mon; ++m) yday += DaysInMonth(parts->tm_year + 1900, m);
  parts->tm_yday = yday;
  parts->tm_wday = DayOfWeek(parts->tm_year + 1900, parts->tm_mon + 1, parts->tm_mday);
  return seconds;
}
