// What the device's records add to a run: each daily report that passes the
// filter as one value for the run's consumers, the totals, the tax rates and
// the decimal mode.
//
// Record contents (offsets from the type byte; numbers little-endian):
//   type 0, model record (32): model marker at 25 ("ZA02": model variant 2)
//   type 1 (38): decimal mode at 5 (0x55 whole, 0xAA hundredths),
//                tax rates at 20 + 2k in hundredths of a percent (0xFFFF: unset)
//   type 4, report, variant 3 (334): packed date-time at 1, number at 5,
//                tax groups at 7 + 4k, departments at 39 + 21d (16-byte name,
//                amount at +16), payments at 274 + 5p (amount, code byte),
//                decimal flag at 331 (0xAA fractional, 0x55 whole)
//   type 4, report, variant 2 (69): date-time at 1, number at 5, groups at 8 + 4k
//   type 6 (25): tax rates at 7 + 2k
#include <cstring>

#include "fm/zelvanm_kl_bul.h"

namespace {

constexpr int32_t kAmountLength = 4;

// A decoded unsigned number as an integer ("%i" of a digits-only text).
int32_t DecodedInteger(const char* text) {
  int32_t value = 0;
  for (const char* p = text; *p >= '0' && *p <= '9'; ++p) value = value * 10 + (*p - '0');
  return value;
}

// The two characters of one field of a decoded date-time, "07" or ":0" (100).
int TwoDigits(const char* text) { return (text[0] - '0') * 10 + (text[1] - '0'); }

// A decoded text of at most n - 1 characters into a field of n bytes.
template <size_t N>
void CopyText(char (&to)[N], const char* text) {
  size_t length = std::strlen(text);
  if (length >= N) length = N - 1;
  std::memcpy(to, text, length);
  to[length] = 0;
}

}  // namespace

int32_t CZELVANM_KL_BUL::ProcessRecord(uint32_t type) {
  switch (type) {
    case 0: ProcessModelRecord(); break;
    case 1: ProcessModeAndRates(); break;
    case 4: ProcessReport(); break;
    case 6: ProcessRates(7); break;
    case 2: case 3: case 5: case 7: case 8: case 9: case 10: case 12: case 13: break;
    default: return RecordUnknownType;
  }
  return static_cast<int32_t>(type);
}

void CZELVANM_KL_BUL::ProcessModelRecord() {
  const char* marker = record->Decode(recordStart + 25, 7, DecodeRaw, 0);
  if (std::memcmp(marker, "ZA02", 4) == 0) modelVariant = 2;
  ScanDecimalModes();
}

void CZELVANM_KL_BUL::ProcessModeAndRates() {
  uint8_t mode = static_cast<uint8_t>(record->Decode(recordStart + 5, 1, DecodeRaw, 0)[0]);
  if (mode == 0x55) fractional = 0;
  if (mode == 0xAA) fractional = 1;
  PushDecimalModeFront(static_cast<uint8_t>(fractional), 0);
  ProcessRates(20);
}

void CZELVANM_KL_BUL::ProcessRates(int32_t firstOffset) {
  TaxRateRecord applied;
  applied.offset = recordOffset;
  for (int32_t k = 0; k < groupCount; ++k) {
    const char* rate = record->Decode(recordStart + firstOffset + 2 * k, 2, DecodeBinary,
                                      DecodeReverse | DecodePoint);
    if (std::strcmp(rate, "655.35") == 0) continue;  // 0xFFFF: not set
    taxRates[k] = AmountValue(rate);
    applied.set[k] = true;
    applied.rates[k] = taxRates[k];
  }
  sink->OnTaxRates(applied);
}

void CZELVANM_KL_BUL::ReadAmount(int32_t offset, int32_t length, int32_t flags, ReportAmount* amount) {
  CopyText(amount->text, record->Decode(offset, length, DecodeBinary, flags));
  amount->value = AmountValue(amount->text);
}

void CZELVANM_KL_BUL::ProcessReport() {
  int32_t number = DecodedInteger(record->Decode(recordStart + 5, 2, DecodeBinary, DecodeReverse));
  const char* date = record->Decode(recordStart + 1, 4, DecodePackedDateTime, 0);
  if (!MatchesFilter(number, record->time)) return;

  DailyReport report;
  report.number = number;
  report.offset = recordOffset;
  report.modelVariant = modelVariant;
  report.crcOk = recordCrcOk;
  CopyText(report.dateText, date);  // DD-MM-YY HH:MM
  report.recorded = {TwoDigits(date + 6), TwoDigits(date + 3), TwoDigits(date), TwoDigits(date + 9),
                     TwoDigits(date + 12)};
  report.time = record->time;
  report.local = record->timeParts;
  report.fractional = FractionalFor(number);
  const int32_t amountFlags = report.fractional ? DecodeReverse | DecodePoint : DecodeReverse;

  // Variant 2 counts every tax group, zero amounts included; variant 3 only
  // the amounts above 0.
  const int32_t firstGroup = modelVariant == 2 ? 8 : 7;
  for (int32_t k = 0; k < groupCount; ++k) {
    report.rates[k] = taxRates[k];
    ReportAmount& amount = report.groups[k];
    ReadAmount(recordStart + firstGroup + 4 * k, kAmountLength, amountFlags, &amount);
    amount.counted = modelVariant == 2 || amount.value > 0;
    if (!amount.counted) continue;
    AddTurnover(amount.text, k);
    report.tax[k] = TaxShare(amount.value, k);
  }
  if (modelVariant != 2) ReadVariant3Fields(report, amountFlags);
  sink->OnDailyReport(report);
}

void CZELVANM_KL_BUL::ReadVariant3Fields(DailyReport& report, int32_t amountFlags) {
  for (int32_t d = 0; d < kDepartmentCount; ++d) {
    DepartmentAmount& department = report.departments[d];
    const int32_t entry = recordStart + 39 + 21 * d;
    // Read 8 bytes wide: the decoder keeps the low 32 bits, the 4 amount bytes.
    ReadAmount(entry + 16, 8, amountFlags, &department.amount);
    department.amount.counted = department.amount.value > 0;
    if (!department.amount.counted) continue;
    CopyText(department.name, record->Decode(entry, 16, DecodeRaw, 0));
    // The same bytes through the device's character map (as DecodeMapChars
    // maps them), up to the zero byte that ends the stored name.
    size_t length = std::strlen(department.name);
    for (size_t i = 0; i < length; ++i)
      department.mappedName[i] = static_cast<char>(record->charMap[static_cast<uint8_t>(department.name[i])]);
    department.mappedName[length] = 0;
    departmentTurnover[d] += department.amount.value;
  }

  for (int32_t p = 0; p < kPaymentSlotCount; ++p) {
    PaymentSlot& slot = report.slots[p];
    const int32_t at = recordStart + 274 + 5 * p;
    slot.code = static_cast<uint8_t>(record->Decode(at + 4, 1, DecodeRaw, 0)[0]);
    ReadAmount(at, kAmountLength, amountFlags, &slot.amount);
    slot.amount.counted = slot.amount.value > 0 && slot.code < kPaymentCodeCount;
    if (!slot.amount.counted) continue;
    paymentTotals[slot.code] += slot.amount.value;
    report.payments[slot.code] += slot.amount.value;
  }

  report.decimalFlag = DecodedInteger(record->Decode(recordStart + 331, 1, DecodeBinary, DecodeReverse));
}

void CZELVANM_KL_BUL::PrintTotals() {
  ReportTotals totals;
  for (int32_t g = 0; g < kTaxGroupCount; ++g) {
    totals.groupTurnover[g] = groupTurnover[g];
    totals.groupTax[g] = groupTax[g];
  }
  for (int32_t d = 0; d < kDepartmentCount; ++d) totals.departments[d] = departmentTurnover[d];
  for (int32_t p = 0; p < kPaymentCodeCount; ++p) totals.payments[p] = paymentTotals[p];
  totals.modelVariant = modelVariant;
  sink->OnTotals(totals);
  ResetTotals();
}
