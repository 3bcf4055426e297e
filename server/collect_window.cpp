#include "server/collect_window.h"

#include <ctime>

namespace {

constexpr int kMinutesPerDay = 24 * 60;

bool ParseClockTime(const std::string& text, int* minute) {
  if (text.size() != 5 || text[2] != ':') return false;
  for (size_t i : {0u, 1u, 3u, 4u})
    if (text[i] < '0' || text[i] > '9') return false;
  const int hours = (text[0] - '0') * 10 + (text[1] - '0');
  const int minutes = (text[3] - '0') * 10 + (text[4] - '0');
  if (hours > 23 || minutes > 59) return false;
  *minute = hours * 60 + minutes;
  return true;
}

// The instant of a wall-clock minute on a local day (day may run past the
// month's end: the conversion carries it over).
int64_t LocalInstantMs(const std::tm& day, int dayOffset, int minute) {
  std::tm local = {};
  local.tm_year = day.tm_year;
  local.tm_mon = day.tm_mon;
  local.tm_mday = day.tm_mday + dayOffset;
  local.tm_hour = minute / 60;
  local.tm_min = minute % 60;
  local.tm_isdst = -1;  // whatever the day's rule is
  return static_cast<int64_t>(std::mktime(&local)) * 1000;
}

}  // namespace

bool ParseCollectWindow(const std::string& text, CollectWindow* window, std::string* problem) {
  const size_t dash = text.find('-');
  CollectWindow parsed;
  if (dash == std::string::npos || !ParseClockTime(text.substr(0, dash), &parsed.startMinute) ||
      !ParseClockTime(text.substr(dash + 1), &parsed.endMinute)) {
    *problem = "'" + text + "' is no window: give HH:MM-HH:MM in the server's local time (22:30-05:00)";
    return false;
  }
  if (parsed.startMinute == parsed.endMinute) {
    *problem = "the window '" + text + "' ends when it starts";
    return false;
  }
  *window = parsed;
  return true;
}

std::string CollectWindowText(const CollectWindow& window) {
  auto two = [](int value) { return std::string(1, static_cast<char>('0' + value / 10)) + static_cast<char>('0' + value % 10); };
  return two(window.startMinute / 60) + ":" + two(window.startMinute % 60) + "-" + two(window.endMinute / 60) + ":" +
         two(window.endMinute % 60);
}

WindowSpan CurrentOrNextWindow(const CollectWindow& window, int64_t nowMs) {
  const std::time_t now = static_cast<std::time_t>(nowMs / 1000);
  std::tm today = {};
  localtime_r(&now, &today);
  const int overMidnight = window.endMinute <= window.startMinute ? 1 : 0;
  // The openings that start yesterday, today and tomorrow, in order: the
  // first that has not ended is the one.
  WindowSpan span;
  for (int day = -1; day <= 1; ++day) {
    span.startMs = LocalInstantMs(today, day, window.startMinute);
    span.endMs = LocalInstantMs(today, day + overMidnight, window.endMinute);
    if (span.endMs > nowMs) return span;
  }
  return span;
}
