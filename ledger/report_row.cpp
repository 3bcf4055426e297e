#include "ledger/report_row.h"

#include <cstring>

#include "fm/fm.h"
#include "fm/record.h"
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

// The decoder's text and value of an amount stored as hundredths (the
// stored field: at most 4 bytes, in whole units or in hundredths).
void SetAmount(int64_t hundredths, bool fractional, ReportAmount* amount) {
  uint64_t stored = static_cast<uint64_t>(hundredths < 0 ? 0 : hundredths);
  FormatUnsigned(static_cast<uint32_t>(fractional ? stored : stored / 100), amount->text);
  if (fractional) InsertDecimalPoint(amount->text);
  amount->value = AmountValue(amount->text);
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
  s.BindText(i++, DateTimeText(report));
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
      s.BindStaticBlob(i++, d.name, std::strlen(d.name));
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
    for (size_t c = 0; c < name.size(); ++c)
      d.mappedName[c] = static_cast<char>(DeviceCharToCp1251(static_cast<uint8_t>(name[c])));
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
  report->time = FormatDateTimeFields(r.year, r.month, r.day, r.hour, r.minute, report->dateText, &report->local);
}
