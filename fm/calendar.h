#pragma once
// Calendar seam: local standard time to seconds since 1970.
#include <cstdint>
#include <ctime>

// The largest calendar time any platform gives: 3000-12-31 23:59:59 UTC.
constexpr int64_t kLastCalendarTime = 32535215999;

// Converts a broken-down local time, taken as standard time (the
// daylight-saving flag is forced to 0), to seconds since 1970-01-01 00:00:00
// UTC, with the normalising rules of the standard local-time conversion (a
// 31st of a 30-day month is the 1st of the next). Gives -1 for a time before
// 1970 or after kLastCalendarTime, the same on every platform. Fields out of
// their ranges are normalised in *parts.
int64_t LocalStandardTimeToCalendar(std::tm* parts);

// The platform's own conversion (mktime / _mktime64 with the daylight-saving
// flag 0), range-checked as above; LocalStandardTimeToCalendar answers most
// calls from a cache in front of it.
int64_t PlatformLocalStandardTime(std::tm* parts);
