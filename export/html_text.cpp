#include "export/html_text.h"

#include "export/amount_text.h"

void AppendEscaped(std::string* out, const std::string& text) {
  for (char c : text) {
    switch (c) {
      case '&': *out += "&amp;"; break;
      case '<': *out += "&lt;"; break;
      case '>': *out += "&gt;"; break;
      case '"': *out += "&quot;"; break;
      default: *out += c;
    }
  }
}

void AppendCell(std::string* out, const std::string& text, bool number) {
  *out += number ? "<td class=\"n\">" : "<td>";
  AppendEscaped(out, text);
  *out += "</td>";
}

void AppendAmountCell(std::string* out, double value) { AppendCell(out, AmountText(value), true); }
