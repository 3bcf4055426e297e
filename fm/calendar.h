#pragma once
// Calendar seam: local standard time to seconds since 1970.
#include <cstdint>
#include <ctime>

// The largest calendar time any platform gives: 3000-12-31 23:59:59 UTC.
constexpr int64_t kLastCalendarTime = 32535215999;

// Converts a broken-down local time, taken as standard time (the
// daylight-saving flag is forced to 0), to seconds since 1970-01-01 00:00:00
// UTC. Out-of-range fields are normalised and *parts is updated in place, as
// the standard local-time conversion does. Gives -1 for a time before 1970 or
// after kLastCalendarTime, the same on every platform.
int64_t LocalStandardTimeToCalendar(std::tm* parts);
