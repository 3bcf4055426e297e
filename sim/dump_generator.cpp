// GenerateDump: a realistic fiscal-memory image of a small shop's register.
//
// Layout, offsets in bytes:
//   0 .. 15    erased (0xFF), so a reader's walk starts at offset 16
//   16         model record: marker "ZA02" on variant 2, "ZA03" otherwise
//   48         type 1: fractional mode, rates 20.00, 9.00, 0.00, the rest unset
//              (or the rates asked for)
//   86 ..      the daily reports 1, 2, 3 ..., one per business day (dates
//              advance 1 to 4 days from a start in 2010-2020, closing at
//              17:00-23:59). Before some reports: an erased gap of 1 to 40
//              bytes, a record of a skipped type (2,3,5,8,9,10,12,13), or a
//              type-6 rate change (group 2 goes 9.00 -> 20.00 and back).
//              With large amounts, each group that has a rate turns over
//              close to 0xFFFFFFFF hundredths in every report.
//   erased up to the decimal-mode area (0x1F1000; 0x1F100 on variant 2)
//   area       type 7 "from report 0: fractional"; when the memory's
//              whole-number period N..M-1 has begun, also "from N: whole",
//              and once it has ended "from M: fractional" (those reports hold
//              whole units and flag 0x55)
//   erased up to the image size: 2,101,247 bytes (variant 3) or 131,071
//              (0x1FFFF, a 128 KiB part, variant 2)
//
// The report count is clamped to what fits below the area (about 6,000 on
// variant 3, about 1,700 on variant 2) and to 65,535 (a 16-bit number).
// Everything comes from one splitmix64 stream, so an image is byte-identical
// for a seed on every platform; and the stream is drawn the same way whatever
// the number of reports, so a seed is one register's memory: fewer reports
// give an earlier image of it (the same first reports byte for byte, erased
// memory after them).
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "fm/cp1251.h"
#include "sim/dump_builder.h"

namespace {

constexpr int kMaxReportNumber = 65535;
constexpr uint16_t kRate20 = 2000;
constexpr uint16_t kRate9 = 900;

class Random {
 public:
  explicit Random(uint32_t seed) : state_(0x5441584F53434F50ull ^ seed) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // 0 .. n-1 (n > 0).
  uint32_t Below(uint32_t n) { return static_cast<uint32_t>(Next() % n); }
  bool Percent(uint32_t p) { return Below(100) < p; }

 private:
  uint64_t state_;
};

// Department names; the register stores them in the device's own character
// set (see DeviceText).
const char* const kDepartmentNames[] = {
    CP1251("Хлебни"),   CP1251("Напитки"),  CP1251("Цигари"),  CP1251("Плодове"),
    CP1251("Зеленчуци"), CP1251("Месо"),    CP1251("Сладкиши"), CP1251("Алкохол"),
    CP1251("Кафе"),     CP1251("Вестници"), "LOTTO",           "SERVICE",
};
constexpr uint32_t kDepartmentNameCount = sizeof(kDepartmentNames) / sizeof(kDepartmentNames[0]);

// Name fields as registers leave them when a department was never named or
// was programmed carelessly, as raw device bytes: empty, padded with blanks,
// cut by a zero byte with old bytes behind it, and never written (0xFF).
const std::string kOddDepartmentNames[] = {
    std::string(),
    std::string("Misc24          "),
    std::string("\x8A\xA0\xB4\xA5\0OLD NAME", 13),
    std::string(16, '\xFF'),
};
constexpr uint32_t kOddDepartmentNameCount = sizeof(kOddDepartmentNames) / sizeof(kOddDepartmentNames[0]);

// Payment codes other than cash, weighted: cards mostly, the reserves rarely.
const uint8_t kOtherPaymentCodes[] = {7, 7, 7, 7, 7, 7, 8, 8, 1, 2, 3, 5, 4, 6, 9, 10};
constexpr uint32_t kOtherPaymentCodeCount = sizeof(kOtherPaymentCodes);

const uint8_t kFillerTypes[] = {2, 3, 5, 8, 9, 10, 12, 13};

struct Date {
  int year;  // within the century
  int month;
  int day;
};

int DaysInMonth(int year, int month) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  int fullYear = 2000 + year;
  bool leap = (fullYear % 4 == 0 && fullYear % 100 != 0) || fullYear % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

void AdvanceDays(Date& date, int days) {
  for (int i = 0; i < days; ++i) {
    if (++date.day <= DaysInMonth(date.year, date.month)) continue;
    date.day = 1;
    if (++date.month <= 12) continue;
    date.month = 1;
    ++date.year;
  }
}

// Splits total into parts[0..count-1], each at least 1 when total allows.
void Split(Random& random, uint32_t total, uint32_t* parts, int count) {
  uint32_t left = total;
  for (int i = 0; i < count - 1; ++i) {
    uint32_t share = static_cast<uint32_t>(static_cast<uint64_t>(left) * (20 + random.Below(50)) / 100);
    parts[i] = share;
    left -= share;
  }
  parts[count - 1] = left;
}

// Windows-1251 text in the device's character set: its Cyrillic letters
// А..ю sit at 0x80..0xBE, which its character map turns into 0xC0..0xFE.
std::string DeviceText(const char* cp1251) {
  std::string text(cp1251);
  for (char& c : text)
    if (static_cast<unsigned char>(c) >= 0xC0) c = static_cast<char>(static_cast<unsigned char>(c) - 0x40);
  return text;
}

// The register's nine departments, named once per image from the names and
// the odd name fields together.
struct DepartmentNames {
  std::string slot[9];
  explicit DepartmentNames(Random& random) {
    constexpr uint32_t kPoolSize = kDepartmentNameCount + kOddDepartmentNameCount;
    std::string pool[kPoolSize];
    for (uint32_t i = 0; i < kDepartmentNameCount; ++i) pool[i] = DeviceText(kDepartmentNames[i]);
    for (uint32_t i = 0; i < kOddDepartmentNameCount; ++i) pool[kDepartmentNameCount + i] = kOddDepartmentNames[i];
    for (uint32_t i = 0; i < 9; ++i) {
      uint32_t pick = i + random.Below(kPoolSize - i);
      std::swap(pool[pick], pool[i]);
      slot[i] = pool[i];
    }
  }
};

ReportData MakeReport(Random& random, const DepartmentNames& names, uint16_t number, const Date& date, bool whole,
                      const uint16_t* largeRates) {
  ReportData report;
  report.number = number;
  // One draw per statement: the order in which a call's arguments are
  // evaluated differs between compilers, and the image must not.
  int minute = static_cast<int>(random.Below(60));
  int hour = 17 + static_cast<int>(random.Below(7));
  report.dateTime = PackDateTime(date.year, date.month, date.day, hour, minute);
  // Amounts in hundredths: most turnover at 20%, some at 9%, a little at 0%.
  if (largeRates) {
    for (int k = 0; k < 8; ++k)
      if (largeRates[k] != kRateUnset) report.groups[k] = UINT32_MAX - random.Below(1u << 24);
  } else {
    report.groups[0] = 5000 + random.Below(300000);
    if (random.Percent(35)) report.groups[1] = 1000 + random.Below(60000);
    if (random.Percent(10)) report.groups[2] = 100 + random.Below(20000);
  }
  if (whole)
    for (uint32_t& group : report.groups) group = group ? (group + 99) / 100 : 0;
  report.decimalFlag = whole ? kModeWhole : kModeFractional;

  // Departments and payments are 4-byte counters too: they share the
  // turnover up to their top.
  uint64_t sum = 0;
  for (uint32_t group : report.groups) sum += group;
  const uint32_t total = sum > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(sum);

  // Up to four departments in use, in distinct slots, sharing the turnover.
  int departments = static_cast<int>(random.Below(5));
  uint32_t departmentAmounts[4];
  if (departments > 0) Split(random, total, departmentAmounts, departments);
  bool used[9] = {};
  for (int i = 0; i < departments; ++i) {
    uint32_t slot = random.Below(9);
    while (used[slot]) slot = (slot + 1) % 9;
    used[slot] = true;
    Department& department = report.departments[slot];
    department.name = names.slot[slot];
    department.amount = departmentAmounts[i];
    department.fifth = static_cast<uint8_t>(1 + random.Below(3));
  }

  // Mostly cash; sometimes split over a card, a cheque or vouchers.
  uint32_t roll = random.Below(100);
  int payments = roll < 60 ? 1 : roll < 85 ? 2 : roll < 95 ? 3 : 4;
  uint32_t paymentAmounts[4];
  Split(random, total, paymentAmounts, payments);
  uint8_t codes[4];
  int codeCount = 0;
  if (random.Percent(85)) codes[codeCount++] = 0;
  while (codeCount < payments) {
    uint8_t code = kOtherPaymentCodes[random.Below(kOtherPaymentCodeCount)];
    bool seen = false;
    for (int i = 0; i < codeCount; ++i) seen = seen || codes[i] == code;
    if (!seen) codes[codeCount++] = code;
  }
  for (int p = 0; p < payments; ++p) report.payments[p] = {paymentAmounts[p], codes[p]};
  return report;
}

}  // namespace

std::vector<uint8_t> GenerateDump(const GenerateOptions& options) { return GenerateDump(options, nullptr); }

std::vector<uint8_t> GenerateDump(const GenerateOptions& options, int* reportCount) {
  const int variant = options.variant == 2 ? 2 : 3;
  const size_t area = DecimalModeAreaOffset(variant);
  const size_t imageSize = variant == 2 ? kVariant2ImageSize : kDumpImageSize;
  const size_t reportLength = static_cast<size_t>(DumpRecordLength(4, variant));
  Random random(options.seed);

  uint16_t rates[8] = {kRate20, kRate9, 0, kRateUnset, kRateUnset, kRateUnset, kRateUnset, kRateUnset};
  for (size_t k = 0; k < options.rates.size() && k < 8; ++k) rates[k] = options.rates[k];
  for (size_t k = options.rates.size(); !options.rates.empty() && k < 8; ++k) rates[k] = kRateUnset;
  const uint16_t openingRates[8] = {rates[0], rates[1], rates[2], rates[3], rates[4], rates[5], rates[6], rates[7]};
  DumpBuilder image;
  image.Erased(16).ModelRecord(variant == 2 ? "ZA02" : "ZA03").ModeAndRates(kModeFractional, rates);

  // The memory's life is planned whatever the number of reports asked for, so
  // that fewer reports give an earlier image of the same memory. The rate
  // changes and the whole-number period fall among the first 120 reports,
  // which surely fit, so a small image shows them too.
  int requested = options.reports < 0 ? 0 : options.reports;
  if (requested > kMaxReportNumber) requested = kMaxReportNumber;
  int rateUp = 0, rateDown = 0, wholeFrom = 0, wholeTo = 0;
  if (random.Percent(60)) {
    rateUp = 2 + static_cast<int>(random.Below(58));
    rateDown = rateUp + 1 + static_cast<int>(random.Below(40));
  }
  if (random.Percent(50)) {
    wholeFrom = 2 + static_cast<int>(random.Below(98));
    wholeTo = wholeFrom + 3 + static_cast<int>(random.Below(8));
  }

  int written = 0;
  const DepartmentNames names(random);
  Date date{static_cast<int>(10 + random.Below(11)), static_cast<int>(1 + random.Below(12)),
            static_cast<int>(1 + random.Below(28))};
  for (int number = 1; number <= requested; ++number) {
    if (number > 1) {
      uint32_t roll = random.Below(100);
      AdvanceDays(date, roll < 75 ? 1 : roll < 92 ? 2 : roll < 98 ? 3 : 4);
    }
    size_t gap = random.Percent(12) ? 1 + random.Below(40) : 0;
    int fillerType = random.Percent(8) ? kFillerTypes[random.Below(sizeof(kFillerTypes))] : -1;
    bool rateChange = number == rateUp || number == rateDown;
    size_t step = gap + reportLength + (fillerType >= 0 ? static_cast<size_t>(DumpRecordLength(fillerType, variant)) : 0) +
                  (rateChange ? 25 : 0);
    if (image.size() + step > area) break;  // the reports would run into the area

    image.Erased(gap);
    if (fillerType >= 0) image.Filler(static_cast<uint8_t>(fillerType));
    if (rateChange) {
      rates[1] = number == rateUp ? kRate20 : openingRates[1];
      image.Rates(rates);
    }
    bool whole = number >= wholeFrom && number < wholeTo;
    image.Report(MakeReport(random, names, static_cast<uint16_t>(number), date, whole,
                            options.largeAmounts ? openingRates : nullptr),
                 variant);
    written = number;
  }
  if (reportCount) *reportCount = written;

  // The area holds the switches made so far: to whole numbers once a report
  // was written in them, back once a report was written after the period.
  image.PadTo(area).DecimalMode(0, kModeFractional);
  if (wholeTo > 0 && wholeFrom <= written) image.DecimalMode(static_cast<uint16_t>(wholeFrom), kModeWhole);
  if (wholeTo > 0 && wholeTo <= written) image.DecimalMode(static_cast<uint16_t>(wholeTo), kModeFractional);
  image.PadTo(imageSize);
  return image.bytes();
}
