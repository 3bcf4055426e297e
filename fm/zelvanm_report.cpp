// What the device's records add to the report: the per-report lines and the
// totals, in Windows-1251 with CR LF line ends.
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

#include "fm/cp1251.h"
#include "fm/zelvanm_kl_bul.h"
#include "report/report_buffer.h"

namespace {

constexpr int32_t kAmountLength = 4;

const char* PaymentName(int code) {
  static const char* const kNames[CFM::kPaymentCount] = {
      CP1251("В брой"), CP1251("Чек   "), CP1251("Талон "), CP1251("В.тал."),
      CP1251("Амбал."), CP1251("Обслуж"), CP1251("Повред"), CP1251("Карта "),
      CP1251("Банка "), CP1251("Рез.1 "), CP1251("Рез.2 "),
  };
  return kNames[code];
}

// A decoded unsigned number as an integer ("%i" of a digits-only text).
int32_t DecodedInteger(const char* text) {
  int32_t value = 0;
  for (const char* p = text; *p >= '0' && *p <= '9'; ++p) value = value * 10 + (*p - '0');
  return value;
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
  for (int32_t k = 0; k < groupCount; ++k) {
    const char* rate = record->Decode(recordStart + firstOffset + 2 * k, 2, DecodeBinary,
                                      DecodeReverse | DecodePoint);
    if (std::strcmp(rate, "655.35") != 0) taxRates[k] = AmountValue(rate);  // 0xFFFF: not set
  }
}

void CZELVANM_KL_BUL::ProcessReport() {
  char number[CRecord::kTextSize];
  std::strcpy(number, record->Decode(recordStart + 5, 2, DecodeBinary, DecodeReverse));
  int32_t reportNumber = DecodedInteger(number);
  const char* date = record->Decode(recordStart + 1, 4, DecodePackedDateTime, 0);
  if (!MatchesFilter(reportNumber, record->time)) return;

  ReportPrintf("\r\nDate: %s\r\n", date);
  ReportPrintf(CP1251("Отчет# %s\r\n"), number);
  const int32_t amountFlags = FractionalFor(reportNumber) ? DecodeReverse | DecodePoint : DecodeReverse;

  if (modelVariant == 2) {
    // Every group is printed and counted, zero amounts included.
    for (int32_t k = 0; k < groupCount; ++k) {
      const char* amount = record->Decode(recordStart + 8 + 4 * k, kAmountLength, DecodeBinary, amountFlags);
      ReportPrintf(CP1251("Дан. гр. %i: %s\r\n"), k + 1, AddTurnover(amount, k));
    }
    return;
  }

  for (int32_t k = 0; k < groupCount; ++k) {
    const char* amount = record->Decode(recordStart + 7 + 4 * k, kAmountLength, DecodeBinary, amountFlags);
    if (AmountValue(amount) > 0) ReportPrintf(CP1251("Дан. гр. %i: %s\r\n"), k + 1, AddTurnover(amount, k));
  }

  for (int32_t d = 0; d < kDepartmentCount; ++d) {
    const int32_t entry = recordStart + 39 + 21 * d;
    // Read 8 bytes wide: the decoder keeps the low 32 bits, the 4 amount bytes.
    const char* decoded = record->Decode(entry + 16, 8, DecodeBinary, amountFlags);
    double value = AmountValue(decoded);
    if (value <= 0) continue;
    char amount[CRecord::kTextSize];
    std::strcpy(amount, decoded);  // decoding the name reuses the text area
    ReportPrintf(CP1251("Деп %i: %s"), d + 1, record->Decode(entry, 16, DecodeRaw, 0));
    departmentTurnover[d] += value;
    ReportPrintf(CP1251(" Оборот: %s\r\n"), amount);
  }

  for (int32_t p = 0; p < 4; ++p) {
    const int32_t slot = recordStart + 274 + 5 * p;
    int code = static_cast<uint8_t>(record->Decode(slot + 4, 1, DecodeRaw, 0)[0]);
    const char* amount = record->Decode(slot, kAmountLength, DecodeBinary, amountFlags);
    double value = AmountValue(amount);
    if (value > 0 && code < kPaymentCount) {
      paymentTotals[code] += value;
      ReportPrintf(CP1251("Плащане %i сума: %s\r\n"), code, amount);
    }
  }

  int32_t flag = DecodedInteger(record->Decode(recordStart + 331, 1, DecodeBinary, DecodeReverse));
  const char* mode = flag == 170  ? CP1251("Дробни числа.")
                     : flag == 85 ? CP1251("Цели числа.")
                                  : CP1251("Грешка десетична точка!");
  ReportPrintf("%s\r\n", mode);
}

void CZELVANM_KL_BUL::PrintTotals() {
  const char* rule = "_____________\r\n";
  ReportPrintf("%s", CP1251("Оборот:\r\n"));
  ReportPrintf("%s", rule);
  for (int32_t g = 0; g < groupCount; ++g) {
    ReportPrintf(CP1251("Дан гр. %i: %.2f\r\n"), g + 1, groupTurnover[g]);
    ReportPrintf(CP1251("    Данък: %.2f\r\n"), groupTax[g]);
  }
  ReportPrintf("%s", CP1251("\r\nОборот по департаменти:\r\n"));
  ReportPrintf("%s", rule);
  for (int32_t d = 0; d < kDepartmentCount; ++d)
    ReportPrintf(CP1251("Деп. %i: %.2f\r\n"), d + 1, departmentTurnover[d]);
  ReportPrintf("%s", CP1251("\r\nПлащания:\r\n"));
  ReportPrintf("%s", rule);
  for (int32_t p = 0; p < kPaymentCount; ++p)
    ReportPrintf(CP1251("Плащане %2i %s: %.2f\r\n"), p, PaymentName(p), paymentTotals[p]);
  ResetTotals();
}
