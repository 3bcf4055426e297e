#include "export/html_text.h"

#include "export/amount_text.h"
#include "export/utf8_text.h"

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

const char kHtmlStyle[] =
    "body{font-family:'DejaVu Sans',Arial,Helvetica,sans-serif;margin:24px 32px;color:#222;background:#fff}"
    "h1{font-size:22px;margin:0 0 8px}"
    "h2{font-size:16px;margin:28px 0 8px;padding-bottom:3px;border-bottom:1px solid #ccc}"
    "p.meta{margin:2px 0;color:#444}"
    "table{border-collapse:collapse;font-size:13px}"
    "th,td{border:1px solid #d8d8d8;padding:3px 9px}"
    "th{background:#eef2f7;font-weight:600}"
    ".n{text-align:right;font-variant-numeric:tabular-nums;white-space:nowrap}"
    "tr.total td{font-weight:700;background:#f4f4f4}"
    "div.totals{display:flex;flex-wrap:wrap;gap:32px;align-items:flex-start}"
    "p.crc{color:#b00020;margin:2px 0}"
    "svg{display:block;margin-top:12px}";

void AppendHtmlFilter(std::string* out, const ExportFilter& f) {
  *out += "<p class=\"meta\">Филтър: ";
  if (f.type == ReportAll) {
    *out += "всички отчети";
  } else {
    *out += f.type == ReportByDate ? "по дата от " : "по номер от ";
    AppendEscaped(out, ValidUtf8(f.from));
    *out += " до ";
    AppendEscaped(out, ValidUtf8(f.to));
  }
  *out += "</p>\n";
}

