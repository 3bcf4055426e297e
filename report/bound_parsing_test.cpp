#include "report/bound_parsing.h"

#include <gtest/gtest.h>

#include <ctime>

#include "fm/calendar.h"
#include "report/report_run.h"

namespace {

TEST(ScanInteger, ReadsLikePercentI) {
  struct Case { const char* text; int32_t value; };
  for (Case c : {Case{"12", 12}, {"0x1A", 26}, {"0X1a", 26}, {"017", 15}, {"  42abc", 42},
                 {"-1", -1}, {"+7", 7}, {"08", 0}, {"0", 0}, {"4294967296", 0},
                 {"99999999999", 1215752191}, {"99999999999999999999", -1}}) {
    int32_t value = 12345;
    EXPECT_TRUE(ScanInteger(c.text, &value)) << c.text;
    EXPECT_EQ(value, c.value) << c.text;
  }
  for (const char* text : {"", "   ", "abc", "-", "0x", "0xg", "- 5"}) {
    int32_t value = 0;
    EXPECT_FALSE(ScanInteger(text, &value)) << text;
  }
}

TEST(ScanDayMonthYear, SlashesMustFollowTheNumbers) {
  int32_t d = 0, m = 0, y = 0;
  EXPECT_EQ(ScanDayMonthYear(" 1/ 2/2010xyz", &d, &m, &y), 3);
  EXPECT_EQ(d * 10000 + m * 1000 + y, 1 * 10000 + 2 * 1000 + 2010);
  EXPECT_EQ(ScanDayMonthYear("01-02-2010", &d, &m, &y), 1);
  EXPECT_EQ(ScanDayMonthYear("01.02.2010", &d, &m, &y), 1);
  EXPECT_EQ(ScanDayMonthYear("1 /2/2010", &d, &m, &y), 1);
  EXPECT_EQ(ScanDayMonthYear("1/2/", &d, &m, &y), 2);
}

int64_t LocalMidnight(int year, int month, int day) {
  std::tm parts{};
  parts.tm_year = year - 1900;
  parts.tm_mon = month - 1;
  parts.tm_mday = day;
  return LocalStandardTimeToCalendar(&parts);
}

TEST(ParseDateBound, StartAndEndOfTheDayInLocalStandardTime) {
  int64_t from = 0, to = 0;
  ASSERT_TRUE(ParseDateBound("01/03/2010", false, &from));
  ASSERT_TRUE(ParseDateBound("31/03/2010", true, &to));
  EXPECT_EQ(from, LocalMidnight(2010, 3, 1));
  EXPECT_EQ(from, 1267394400);  // 2010-02-28 22:00 UTC
  EXPECT_EQ(to, LocalMidnight(2010, 3, 31) + 86399);
  // Summer days too are taken as standard time (no daylight-saving shift).
  ASSERT_TRUE(ParseDateBound("15/07/2011", false, &from));
  EXPECT_EQ(from, 1310680800);  // 2011-07-14 22:00 UTC
}

TEST(ParseDateBound, ValidityRules) {
  int64_t value = 0;
  EXPECT_TRUE(ParseDateBound("31/04/2010", false, &value));  // rolls into May
  EXPECT_EQ(value, LocalMidnight(2010, 5, 1));
  EXPECT_TRUE(ParseDateBound("1/2/2010xyz", false, &value));
  for (const char* text : {"0/04/2010", "32/04/2010", "15/13/2010", "15/00/2010", "15/04/1899",
                           "15/04/1950", "01-02-2010", "01.02.2010", "", "1/1", "1/1/1970",
                           "1/-2147483648/2000"}) {
    value = 77;
    EXPECT_FALSE(ParseDateBound(text, false, &value)) << text;
    EXPECT_EQ(value, 0) << text;
  }
  // The range ends at 3000-12-31 23:59:59 UTC, two hours after midnight in Sofia.
  EXPECT_TRUE(ParseDateBound("1/1/3001", false, &value));
  EXPECT_FALSE(ParseDateBound("1/1/3001", true, &value));
  EXPECT_TRUE(ParseDateBound("1/1/1970", true, &value));
}

}  // namespace
