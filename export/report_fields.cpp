#include "export/report_fields.h"

#include "export/utf8_text.h"

const char* DecimalPointWord(const DailyReport& report) {
  if (report.modelVariant == 2) return "";
  if (report.decimalFlag == 170) return "fractional";
  if (report.decimalFlag == 85) return "whole";
  return "error";
}

namespace {

void AppendDigits(std::string* out, int value, int width) {
  char digits[12];
  int count = 0;
  unsigned rest = value < 0 ? 0u : static_cast<unsigned>(value);
  do {
    digits[count++] = static_cast<char>('0' + rest % 10);
    rest /= 10;
  } while (rest);
  for (int i = count; i < width; ++i) out->push_back('0');
  while (count) out->push_back(digits[--count]);
}

}  // namespace

void AppendDateTime(std::string* out, const CivilDateTime& civil) {
  AppendDigits(out, civil.year, 4);
  out->push_back('-');
  AppendDigits(out, civil.month, 2);
  out->push_back('-');
  AppendDigits(out, civil.day, 2);
  out->push_back(' ');
  AppendDigits(out, civil.hour, 2);
  out->push_back(':');
  AppendDigits(out, civil.minute, 2);
}

std::string DateTimeText(const DailyReport& report) {
  std::string text;
  AppendDateTime(&text, report.Civil());
  return text;
}

std::string DepartmentName(const DepartmentAmount& department) {
  return TrimTrailingBlanks(Cp1251ToUtf8(department.mappedName));
}

std::string PaymentNameUtf8(int code) { return TrimTrailingBlanks(Cp1251ToUtf8(PaymentName(code))); }
