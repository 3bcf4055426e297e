#include "export/amount_text.h"

#include <charconv>
#include <cmath>

void AppendFixed(std::string* out, double value, int decimals, char decimalSeparator) {
  // to_chars rounds the exact binary value to nearest, ties to even, like
  // the C library's printf, and never looks at the locale.
  char text[352];
  if (!std::isfinite(value)) value = 0;  // amounts and tax shares are always finite
  std::to_chars_result result = std::to_chars(text, text + sizeof(text), value, std::chars_format::fixed, decimals);
  if (decimals > 0) result.ptr[-decimals - 1] = decimalSeparator;
  out->append(text, result.ptr);
}

std::string AmountText(double value, char decimalSeparator) {
  std::string text;
  AppendAmount(&text, value, decimalSeparator);
  return text;
}
