#pragma once
// Numbers in the exports: rounded as printf's "%.Nf" rounds, with the
// decimal separator asked for whatever the process's locale.
#include <string>

void AppendFixed(std::string* out, double value, int decimals, char decimalSeparator = '.');

// Amounts: exactly two decimals.
inline void AppendAmount(std::string* out, double value, char decimalSeparator = '.') {
  AppendFixed(out, value, 2, decimalSeparator);
}
std::string AmountText(double value, char decimalSeparator = '.');
