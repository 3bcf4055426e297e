#include "fm/daily_report.h"

#include "fm/cp1251.h"

namespace {

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar.
int64_t DaysFromCivil(int64_t year, int month, int day) {
  year -= month <= 2;
  int64_t era = (year >= 0 ? year : year - 399) / 400;
  int64_t yearOfEra = year - era * 400;
  int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

void CivilFromDays(int64_t days, CivilDateTime* civil) {
  days += 719468;
  int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  int64_t dayOfEra = days - era * 146097;
  int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  int64_t monthIndex = (5 * dayOfYear + 2) / 153;
  civil->day = static_cast<int>(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
  civil->month = static_cast<int>(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
  civil->year = static_cast<int>(yearOfEra + era * 400 + (civil->month <= 2));
}

int64_t FloorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

}  // namespace

CivilDateTime ToCivil(const RecordedDateTime& recorded) {
  // The order of the standard local-time conversion: the month carries into
  // the year first, then day, hour and minute count on from the month's start.
  int64_t monthIndex = recorded.month - 1;
  int64_t year = 2000 + recorded.year + FloorDiv(monthIndex, 12);
  int month = static_cast<int>(monthIndex - FloorDiv(monthIndex, 12) * 12) + 1;
  int64_t minutes = (DaysFromCivil(year, month, 1) + recorded.day - 1) * 1440 +
                    int64_t{recorded.hour} * 60 + recorded.minute;
  CivilDateTime civil;
  CivilFromDays(FloorDiv(minutes, 1440), &civil);
  int64_t minuteOfDay = minutes - FloorDiv(minutes, 1440) * 1440;
  civil.hour = static_cast<int>(minuteOfDay / 60);
  civil.minute = static_cast<int>(minuteOfDay % 60);
  return civil;
}

const char* PaymentName(int code) {
  static const char* const kNames[kPaymentCodeCount] = {
      CP1251("В брой"), CP1251("Чек   "), CP1251("Талон "), CP1251("В.тал."),
      CP1251("Амбал."), CP1251("Обслуж"), CP1251("Повред"), CP1251("Карта "),
      CP1251("Банка "), CP1251("Рез.1 "), CP1251("Рез.2 "),
  };
  return code >= 0 && code < kPaymentCodeCount ? kNames[code] : "";
}

ReportSink::~ReportSink() = default;
void ReportSink::OnDailyReport(const DailyReport&) {}
void ReportSink::OnTotals(const ReportTotals&) {}
void ReportSink::OnFrame(const RecordFrame&) {}
void ReportSink::OnTaxRates(const TaxRateRecord&) {}
void ReportSink::OnModeAreaRecord(const ModeAreaRecord&) {}
void ReportSink::OnCutShort(const RecordFrame&, int64_t) {}

void ReportSinks::OnDailyReport(const DailyReport& report) {
  for (ReportSink* sink : sinks_) sink->OnDailyReport(report);
}

void ReportSinks::OnTotals(const ReportTotals& totals) {
  for (ReportSink* sink : sinks_) sink->OnTotals(totals);
}

void ReportSinks::OnFrame(const RecordFrame& frame) {
  for (ReportSink* sink : sinks_) sink->OnFrame(frame);
}

void ReportSinks::OnTaxRates(const TaxRateRecord& rates) {
  for (ReportSink* sink : sinks_) sink->OnTaxRates(rates);
}

void ReportSinks::OnModeAreaRecord(const ModeAreaRecord& record) {
  for (ReportSink* sink : sinks_) sink->OnModeAreaRecord(record);
}

void ReportSinks::OnCutShort(const RecordFrame& frame, int64_t present) {
  for (ReportSink* sink : sinks_) sink->OnCutShort(frame, present);
}
