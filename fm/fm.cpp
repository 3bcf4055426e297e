#include "fm/fm.h"

#include <charconv>
#include <cstring>

CFM::CFM(const char* path) : CFM(new CInputFileBin(path)) {}

CFM::CFM(CInputFileBase* source)
    : groupTurnover(nullptr), groupTax(nullptr), taxRates(nullptr),
      departmentTurnover(nullptr), paymentTotals(nullptr), record(new CRecord) {
  // The rates start at 0 for every reader: a report met before any rate
  // record then carries no tax rather than an undefined one.
  taxRates = new double[groupCount]();
  groupTurnover = new double[groupCount]();
  groupTax = new double[groupCount]();
  departmentTurnover = new double[kDepartmentCount]();
  paymentTotals = new double[kPaymentCodeCount]();
  input = source;
  ResetTotals();
}

CFM::~CFM() {
  delete record;
  delete[] taxRates;
  delete[] groupTurnover;
  delete[] groupTax;
  delete[] departmentTurnover;
  delete[] paymentTotals;
  delete input;
}

int32_t CFM::Parse() {
  while (ReadRecord() != -1) {
  }
  PrintTotals();
  // A dump that could not be opened is no successful parse, even though the
  // walk went through (and found nothing).
  return input->IsOpen() ? 1 : 0;
}

void CFM::ResetTotals() {
  for (int32_t g = 0; g < groupCount; ++g) groupTurnover[g] = groupTax[g] = 0;
  for (int32_t d = 0; d < kDepartmentCount; ++d) departmentTurnover[d] = 0;
  for (int32_t p = 0; p < kPaymentCodeCount; ++p) paymentTotals[p] = 0;
}

const char* CFM::AddTurnover(const char* text, int32_t group) {
  double amount = AmountValue(text);
  groupTurnover[group] += amount;
  groupTax[group] += TaxShare(amount, group);
  return text;
}

double AmountValue(const char* text) {
  // The decoder's amounts are digits with, in fractional mode, a point before
  // the last two. Their value is the integer of all the digits divided by 100:
  // both are exact doubles and the division rounds correctly, so this is the
  // very double that the text converts to.
  uint64_t digits = 0;
  int count = 0;
  const char* p = text;
  for (; *p >= '0' && *p <= '9' && count < 15; ++p, ++count) digits = digits * 10 + static_cast<unsigned>(*p - '0');
  if (count > 0 && count < 15) {
    if (*p == 0) return static_cast<double>(digits);
    if (p[0] == '.' && p[1] >= '0' && p[1] <= '9' && p[2] >= '0' && p[2] <= '9' && p[3] == 0)
      return static_cast<double>(digits * 100 + static_cast<unsigned>((p[1] - '0') * 10 + (p[2] - '0'))) / 100.0;
  }
  double value = 0;
  const char* end = text + std::strlen(text);
  if (std::from_chars(text, end, value).ec != std::errc()) return 0;
  return value;
}
