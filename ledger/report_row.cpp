#include "ledger/report_row.h"

#include <cstring>

#include "fm/calendar.h"
#include "fm/fm.h"
#include "export/report_fields.h"

const char kReportColumns[] =
    "number, recorded, recorded_at, model_variant, fractional, crc_ok, decimal_flag, "
    "group_1, group_2, group_3, group_4, group_5, group_6, group_7, group_8, "
    "tax_1, tax_2, tax_3, tax_4, tax_5, tax_6, tax_7, tax_8, "
    "rate_1, rate_2, rate_3, rate_4, rate_5, rate_6, rate_7, rate_8, "
    "department_1, department_2, department_3, department_4, department_5, department_6, department_7, "
    "department_8, department_9, department_name_1, department_name_2, department_name_3, department_name_4, "
    "department_name_5, department_name_6, department_name_7, department_name_8, department_name_9, "
    "slot_1_amount, slot_1_code, slot_2_amount, slot_2_code, slot_3_amount, slot_3_code, slot_4_amount, "
    "slot_4_code";

namespace {

// An amount text of the decoder ("123.45" or "12345") as hundredths.
int64_t Hundredths(const ReportAmount& amount, bool fractional) {
  int64_t digits = 0;
  for (const char* p = amount.text; *p; ++p)
    if (*p >= '0' && *p <= '9') digits = digits * 10 + (*p - '0');
  return fractional ? digits : digits * 100;
}

// The decoder's text and value of an amount stored as hundredths.
void SetAmount(int64_t hundredths, bool fractional, ReportAmount* amount) {
  uint64_t stored = static_cast<uint64_t>(hundredths < 0 ? 0 : hundredths);
  if (!fractional) stored /= 100;
  char digits[24];
  int count = 0;
  do {
    digits[count++] = static_cast<char>('0' + stored % 10);
    stored /= 10;
  } while (stored);
  if (fractional)
    while (count < 3) digits[count++] = '0';
  char* out = amount->text;
  while (count) {
    if (fractional && count == 2) *out++ = '.';
    *out++ = digits[--count];
  }
  *out = 0;
  amount->value = AmountValue(amount->text);
}

void PutTwoDigits(char* at, int value) {
  at[0] = static_cast<char>('0' + value / 10);
  at[1] = static_cast<char>('0' + value % 10);
}

// The device's character map: Cyrillic letters at 0x80..0xBE are Windows-1251's
// 0xC0..0xFE; control codes, DEL and 0xBF on print as blanks.
char MapDeviceChar(char stored) {
  unsigned code = static_cast<uint8_t>(stored);
  if (code >= 0x21 && code <= 0x7E) return stored;
  if (code >= 0x80 && code <= 0xBE) return static_cast<char>(code + 0x40);
  return ' ';
}

void AppendInt(std::string* out, int64_t value) {
  out->append(reinterpret_cast<const char*>(&value), sizeof value);
}

}  // namespace

int64_t PackRecorded(const RecordedDateTime& r) {
  return int64_t{r.year} * 100000000 + r.month * 1000000 + r.day * 10000 + r.hour * 100 + r.minute;
}

RecordedDateTime UnpackRecorded(int64_t packed) {
  RecordedDateTime r;
  r.minute = static_cast<int>(packed % 100);
  r.hour = static_cast<int>(packed / 100 % 100);
  r.day = static_cast<int>(packed / 10000 % 100);
  r.month = static_cast<int>(packed / 1000000 % 100);
  r.year = static_cast<int>(packed / 100000000);
  return r;
}

std::string RecordedAtText(const DailyReport& report) { return DateTimeText(report); }

std::string ReportKey(const DailyReport& report) {
  std::string key;
  AppendInt(&key, report.number);
  AppendInt(&key, PackRecorded(report.recorded));
  return key;
}

std::string ReportIdentity(const DailyReport& report) {
  std::string identity = ReportKey(report);
  const bool fractional = report.fractional != 0;
  for (const ReportAmount& group : report.groups) AppendInt(&identity, group.counted ? Hundredths(group, fractional) : 0);
  for (const DepartmentAmount& d : report.departments)
    AppendInt(&identity, d.amount.counted ? Hundredths(d.amount, fractional) : 0);
  for (const PaymentSlot& slot : report.slots)
    AppendInt(&identity, slot.amount.counted ? Hundredths(slot.amount, fractional) * 16 + slot.code : -1);
  AppendInt(&identity, report.decimalFlag);
  AppendInt(&identity, report.crcOk);
  return identity;
}

void BindReport(SqliteStatement& s, int first, const DailyReport& report) {
  const bool fractional = report.fractional != 0;
  int i = first;
  s.BindInt(i++, report.number);
  s.BindInt(i++, PackRecorded(report.recorded));
  s.BindText(i++, RecordedAtText(report));
  s.BindInt(i++, report.modelVariant);
  s.BindInt(i++, report.fractional);
  s.BindInt(i++, report.crcOk ? 1 : 0);
  s.BindInt(i++, report.decimalFlag);
  for (const ReportAmount& group : report.groups) s.BindInt(i++, group.counted ? Hundredths(group, fractional) : 0);
  for (double tax : report.tax) s.BindDouble(i++, tax);
  for (double rate : report.rates) s.BindDouble(i++, rate);
  for (const DepartmentAmount& d : report.departments)
    s.BindInt(i++, d.amount.counted ? Hundredths(d.amount, fractional) : 0);
  for (const DepartmentAmount& d : report.departments) {
    if (d.amount.counted)
      s.BindBlob(i++, d.name, std::strlen(d.name));
    else
      s.BindNull(i++);
  }
  for (const PaymentSlot& slot : report.slots) {
    s.BindInt(i++, Hundredths(slot.amount, fractional));
    s.BindInt(i++, slot.code);
  }
}

void ReadReport(const SqliteStatement& s, int first, DailyReport* report) {
  *report = DailyReport();
  int i = first;
  report->number = static_cast<int32_t>(s.Int(i++));
  report->recorded = UnpackRecorded(s.Int(i++));
  ++i;  // recorded_at: the same date-time on a calendar
  report->modelVariant = static_cast<int32_t>(s.Int(i++));
  report->fractional = static_cast<uint8_t>(s.Int(i++));
  report->crcOk = s.Int(i++) != 0;
  report->decimalFlag = static_cast<int32_t>(s.Int(i++));
  const bool fractional = report->fractional != 0;
  const bool variant2 = report->modelVariant == 2;
  for (ReportAmount& group : report->groups) {
    SetAmount(s.Int(i++), fractional, &group);
    group.counted = variant2 || group.value > 0;
  }
  for (double& tax : report->tax) tax = s.Double(i++);
  for (double& rate : report->rates) rate = s.Double(i++);
  for (DepartmentAmount& d : report->departments) {
    SetAmount(s.Int(i++), fractional, &d.amount);
    d.amount.counted = d.amount.value > 0;
  }
  for (DepartmentAmount& d : report->departments) {
    std::string name = s.Blob(i++);
    if (name.size() > 16) name.resize(16);
    std::memcpy(d.name, name.data(), name.size());
    d.name[name.size()] = 0;
    for (size_t c = 0; c < name.size(); ++c) d.mappedName[c] = MapDeviceChar(name[c]);
    d.mappedName[name.size()] = 0;
  }
  for (PaymentSlot& slot : report->slots) {
    SetAmount(s.Int(i++), fractional, &slot.amount);
    slot.code = static_cast<uint8_t>(s.Int(i++));
    slot.amount.counted = slot.amount.value > 0 && slot.code < kPaymentCodeCount;
    if (slot.amount.counted) report->payments[slot.code] += slot.amount.value;
  }

  // The printed date text and the calendar time, as the decoder makes them.
  const RecordedDateTime& r = report->recorded;
  char* text = report->dateText;
  PutTwoDigits(text, r.day);
  text[2] = '-';
  PutTwoDigits(text + 3, r.month);
  text[5] = '-';
  PutTwoDigits(text + 6, r.year);  // 100 prints as ":0", as the decoder prints it
  text[8] = ' ';
  PutTwoDigits(text + 9, r.hour);
  text[11] = ':';
  PutTwoDigits(text + 12, r.minute);
  text[14] = 0;
  std::tm parts{};
  parts.tm_min = r.minute;
  parts.tm_hour = r.hour;
  parts.tm_mday = r.day;
  parts.tm_mon = r.month - 1;
  parts.tm_year = r.year + 100;
  report->time = LocalStandardTimeToCalendar(&parts);
  report->local = parts;
}
