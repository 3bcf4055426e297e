// libFuzzer target: the bound parsers on any text. Report numbers and the
// numbers of a date must be read exactly as the C library's "%i" and
// "%d/%d/%d" read them here, and a valid date bound must be the first (or
// last) second of its day in the device's local standard time, within the
// calendar range.
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "fm/calendar.h"
#include "report/bound_parsing.h"
#include "report/report_run.h"

namespace {

// The device's zone keeps UTC+2 as its standard time over the whole range.
constexpr int64_t kStandardOffset = 2 * 3600;

void Check(bool condition) {
  if (!condition) std::abort();
}

int64_t FloorDiv(int64_t a, int64_t b) { return a / b - (a % b != 0 && (a < 0) != (b < 0)); }

// Days from 1970-01-01 to a day of the proleptic Gregorian calendar.
int64_t DaysFromCivil(int64_t year, int64_t month, int64_t day) {
  year -= month <= 2;
  const int64_t era = FloorDiv(year, 400);
  const int64_t yearOfEra = year - era * 400;
  const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

// "0x" with no hexadecimal digit after it: no number by the C standard, which
// the parser follows; this C library reads the 0 in front instead.
bool BareHexPrefix(const char* text) {
  while (std::isspace(static_cast<unsigned char>(*text))) ++text;
  if (*text == '+' || *text == '-') ++text;
  return text[0] == '0' && (text[1] == 'x' || text[1] == 'X') && !std::isxdigit(static_cast<unsigned char>(text[2]));
}

void CheckInteger(const char* text) {
  int32_t value = 0;
  const bool found = ScanInteger(text, &value);
  if (BareHexPrefix(text)) {
    Check(!found);
    return;
  }
  int expected = 0;
  const bool scanned = std::sscanf(text, "%i", &expected) == 1;
  Check(found == scanned);
  if (found) Check(value == expected);
}

void CheckDayMonthYear(const char* text) {
  int32_t day = 0, month = 0, year = 0;
  const int fields = ScanDayMonthYear(text, &day, &month, &year);
  int d = 0, m = 0, y = 0;
  int scanned = std::sscanf(text, "%d/%d/%d", &d, &m, &y);
  if (scanned == EOF) scanned = 0;
  Check(fields == scanned);
  Check(fields < 1 || day == d);
  Check(fields < 2 || month == m);
  Check(fields < 3 || year == y);
}

// Out-of-range days and months roll over as in the local-time conversion.
void CheckDateBound(const char* text, bool endOfDay) {
  int64_t value = 77;
  const bool valid = ParseDateBound(text, endOfDay, &value);
  int32_t day = 0, month = 0, year = 0;
  bool expectValid = ScanDayMonthYear(text, &day, &month, &year) == 3 && year >= 1900 &&
                     day != 0 && day <= 31 && month != 0 && month <= 12;
  int64_t expected = 0;
  if (expectValid) {
    const int64_t month0 = int64_t{month} - 1;
    const int64_t days = DaysFromCivil(year + FloorDiv(month0, 12), month0 - FloorDiv(month0, 12) * 12 + 1, 1) +
                         (int64_t{day} - 1);
    expected = days * 86400 - kStandardOffset + (endOfDay ? 86399 : 0);
    expectValid = expected >= 0 && expected <= kLastCalendarTime;
  }
  Check(valid == expectValid);
  Check(value == (valid ? expected : 0));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setenv("TZ", "Europe/Sofia", 1);
  tzset();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);  // a C string ends at a NUL
  CheckInteger(text.c_str());
  CheckDayMonthYear(text.c_str());
  CheckDateBound(text.c_str(), false);
  CheckDateBound(text.c_str(), true);
  return 0;
}
