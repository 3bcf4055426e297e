#include <cstdint>
#include <ctime>

#include "fm/calendar.h"
#include "report/bound_parsing.h"
#include "report/report_run.h"

bool ParseDateBound(const char* text, bool endOfDay, int64_t* value) {
  *value = 0;
  int32_t day = 0, month = 0, year = 0;
  if (ScanDayMonthYear(text, &day, &month, &year) < 3) return false;
  if (year < 1900) return false;
  // The lowest month has no month field one below it; rolled back that far,
  // any year lands outside the calendar range.
  if (month == INT32_MIN) return false;

  // Built exactly like a record's packed date-time, so the filter compares
  // like with like: month counted from 0, standard time.
  std::tm parts{};
  parts.tm_mday = day;
  parts.tm_mon = month - 1;
  parts.tm_year = year - 1900;
  parts.tm_hour = endOfDay ? 23 : 0;
  parts.tm_min = endOfDay ? 59 : 0;
  parts.tm_sec = endOfDay ? 59 : 0;
  int64_t seconds = LocalStandardTimeToCalendar(&parts);
  if (seconds == -1) return false;
  // Tested on the numbers as typed; 31/04 is let through and rolls over.
  if (day == 0 || day > 31 || month == 0 || month > 12) return false;
  *value = seconds;
  return true;
}
