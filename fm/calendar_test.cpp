#include "fm/calendar.h"

#include <gtest/gtest.h>

#include <atomic>
#include <ctime>
#include <thread>
#include <vector>

namespace {

std::tm Fields(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
  std::tm parts{};
  parts.tm_year = year - 1900;
  parts.tm_mon = month - 1;
  parts.tm_mday = day;
  parts.tm_hour = hour;
  parts.tm_min = minute;
  parts.tm_sec = second;
  return parts;
}

// The month cache in front of the platform's conversion must give exactly
// what the conversion gives, across month ends, leap days and the
// daylight-saving changes of the device's time zone.
TEST(Calendar, CachedConversionAgreesWithThePlatform) {
  for (int year : {1970, 1996, 2000, 2011, 2024, 2099, 2100}) {
    for (int month = 1; month <= 12; ++month) {
      for (int day = 1; day <= 31; day += 3) {
        for (int hour : {0, 2, 3, 4, 23}) {
          std::tm cached = Fields(year, month, day, hour, 30, 15);
          std::tm platform = cached;
          ASSERT_EQ(LocalStandardTimeToCalendar(&cached), PlatformLocalStandardTime(&platform))
              << year << "-" << month << "-" << day << " " << hour;
        }
      }
    }
  }
}

// The server's readers convert the dates of reports on many threads at once,
// each walking its own months: every thread gets the platform's answer.
TEST(Calendar, ThreadsConvertAtOnceEachInItsOwnMonths) {
  std::vector<std::tm> times;
  std::vector<int64_t> expected;
  for (int year = 2010; year <= 2013; ++year)
    for (int month = 1; month <= 12; ++month)
      for (int day : {1, 14, 28}) {
        times.push_back(Fields(year, month, day, 21, 45, 7));
        std::tm platform = times.back();
        expected.push_back(PlatformLocalStandardTime(&platform));
      }
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (size_t t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 50; ++round)
        for (size_t i = 0; i < times.size(); ++i) {
          // Each thread starts elsewhere, so the threads are in other months.
          const size_t k = (i * (2 * t + 1) + t * 17) % times.size();
          std::tm parts = times[k];
          if (LocalStandardTimeToCalendar(&parts) != expected[k]) ++wrong;
        }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(0, wrong.load());
}

TEST(Calendar, StandardTimeAllYearRound) {
  std::tm winter = Fields(2011, 1, 15, 12);
  std::tm summer = Fields(2011, 7, 15, 12);
  // Sofia is UTC+2 in standard time; the daylight-saving flag is forced to 0.
  EXPECT_EQ(LocalStandardTimeToCalendar(&winter), 1295085600);  // 10:00 UTC
  summer.tm_isdst = 1;
  EXPECT_EQ(LocalStandardTimeToCalendar(&summer), 1310724000);  // 10:00 UTC, not 09:00
}

TEST(Calendar, NormalisesOutOfRangeFields) {
  std::tm parts = Fields(2011, 2, 30);
  EXPECT_EQ(LocalStandardTimeToCalendar(&parts), LocalStandardTimeToCalendar(&(parts = Fields(2011, 3, 2))));
  parts = Fields(2011, 13, 1, 24, 60);
  std::tm same = Fields(2012, 1, 2, 1);
  EXPECT_EQ(LocalStandardTimeToCalendar(&parts), LocalStandardTimeToCalendar(&same));
  EXPECT_EQ(parts.tm_year, 112);
  EXPECT_EQ(parts.tm_mday, 2);
}

TEST(Calendar, RangeIs1970To3000Utc) {
  std::tm before = Fields(1970, 1, 1, 1, 59, 59);  // 1969-12-31 23:59:59 UTC
  std::tm first = Fields(1970, 1, 1, 2);
  std::tm last = Fields(3001, 1, 1, 1, 59, 59);
  std::tm after = Fields(3001, 1, 1, 2);
  EXPECT_EQ(LocalStandardTimeToCalendar(&before), -1);
  EXPECT_EQ(LocalStandardTimeToCalendar(&first), 0);
  EXPECT_EQ(LocalStandardTimeToCalendar(&last), kLastCalendarTime);
  EXPECT_EQ(LocalStandardTimeToCalendar(&after), -1);
}

}  // namespace
