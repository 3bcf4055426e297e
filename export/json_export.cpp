#include "export/json_export.h"

#include <nlohmann/json.hpp>

#include "export/amount_text.h"
#include "export/path_utf8.h"
#include "export/report_fields.h"

namespace {

// A JSON string with the library's escaping; text that is not valid UTF-8
// could only come from a fault here, and would become U+FFFD, never bad bytes.
void AppendString(std::string* out, const std::string& text) {
  *out += nlohmann::json(text).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

void AppendKey(std::string* out, const char* key) {
  *out += '"';
  *out += key;  // the keys are plain ASCII names
  *out += "\": ";
}

void AppendAmounts(std::string* out, const char* key, const double* values, int count) {
  AppendKey(out, key);
  *out += '[';
  for (int i = 0; i < count; ++i) {
    if (i) *out += ", ";
    AppendAmount(out, values[i]);
  }
  *out += ']';
}

// groups, tax, departments and payments: the table columns of a month and of the totals.
void AppendAmountTables(std::string* out, const double* groups, const double* tax, const double* departments,
                        const double* payments) {
  AppendAmounts(out, "groups", groups, kTaxGroupCount);
  *out += ", ";
  AppendAmounts(out, "tax", tax, kTaxGroupCount);
  *out += ", ";
  AppendAmounts(out, "departments", departments, kDepartmentCount);
  *out += ", ";
  AppendAmounts(out, "payments", payments, kPaymentCodeCount);
}

// name: already a JSON string.
void AppendNamedAmount(std::string* out, const char* numberKey, int number, const std::string& name,
                       double amount) {
  *out += '{';
  AppendKey(out, numberKey);
  *out += std::to_string(number);
  *out += ", ";
  AppendKey(out, "name");
  *out += name;
  *out += ", ";
  AppendKey(out, "amount");
  AppendAmount(out, amount);
  *out += '}';
}

void AppendFilter(std::string* out, const ExportFilter& filter) {
  AppendKey(out, "filter");
  const char* type = filter.type == ReportByDate ? "date" : filter.type == ReportByNumber ? "number" : "all";
  *out += "{\"type\": \"";
  *out += type;
  *out += "\", ";
  AppendKey(out, "from");
  if (filter.type == ReportAll)
    *out += "null";
  else
    AppendString(out, filter.from);
  *out += ", ";
  AppendKey(out, "to");
  if (filter.type == ReportAll)
    *out += "null";
  else
    AppendString(out, filter.to);
  *out += '}';
}

}  // namespace

JsonExport::JsonExport() : ExportOutput(".json", false) {}

void JsonExport::Begin(const ReportRequest& request) {
  ExportOutput::Begin(request);
  months_ = MonthTable();
  firstReport_ = true;
  for (int d = 0; d < kDepartmentCount; ++d) departmentRaw_[d] = departmentJson_[d] = std::string();
  for (int code = 0; code < kPaymentCodeCount; ++code) {
    paymentJson_[code].clear();
    AppendString(&paymentJson_[code], PaymentNameUtf8(code));
  }
  text_ += "{\n  ";
  AppendKey(&text_, "dump");
  AppendString(&text_, PathAsUtf8(dumpPath()));
  text_ += ",\n  ";
  AppendKey(&text_, "model_variant");
  // The variant is known at the end of the walk; it is always one digit, 2 or 3.
  variantAt_ = text_.size();
  text_ += "3,\n  ";
  AppendFilter(&text_, filter());
  text_ += ",\n  ";
  AppendKey(&text_, "reports");
  text_ += '[';
}

void JsonExport::OnDailyReport(const DailyReport& report) {
  months_.Add(report);
  text_ += firstReport_ ? "\n    {" : ",\n    {";
  firstReport_ = false;
  AppendKey(&text_, "number");
  text_ += std::to_string(report.number);
  text_ += ", ";
  AppendKey(&text_, "date");
  text_ += '"';
  AppendDateTime(&text_, report.Civil());
  text_ += "\", ";
  AppendKey(&text_, "decimal_point");
  if (report.modelVariant == 2) {
    text_ += "null";
  } else {
    text_ += '"';
    text_ += DecimalPointWord(report);
    text_ += '"';
  }
  text_ += ", ";
  AppendKey(&text_, "crc_ok");
  text_ += report.crcOk ? "true, " : "false, ";

  double groups[kTaxGroupCount];
  for (int g = 0; g < kTaxGroupCount; ++g) groups[g] = CountedValue(report.groups[g]);
  AppendAmounts(&text_, "groups", groups, kTaxGroupCount);
  text_ += ", ";
  AppendAmounts(&text_, "tax", report.tax, kTaxGroupCount);
  text_ += ", ";

  AppendKey(&text_, "departments");
  text_ += '[';
  bool first = true;
  for (int d = 0; d < kDepartmentCount; ++d) {
    const DepartmentAmount& department = report.departments[d];
    if (!department.amount.counted) continue;
    if (!first) text_ += ", ";
    first = false;
    // A register keeps its department names for long: each is escaped once.
    // An empty cache is no name yet (a name, even empty, is at least "").
    if (departmentJson_[d].empty() || departmentRaw_[d] != department.mappedName) {
      departmentRaw_[d] = department.mappedName;
      departmentJson_[d].clear();
      AppendString(&departmentJson_[d], DepartmentName(department));
    }
    AppendNamedAmount(&text_, "number", d + 1, departmentJson_[d], department.amount.value);
  }
  text_ += "], ";

  AppendKey(&text_, "payments");
  text_ += '[';
  first = true;
  for (int code = 0; code < kPaymentCodeCount; ++code) {
    if (!(report.payments[code] > 0)) continue;  // only counted slots add to a code
    if (!first) text_ += ", ";
    first = false;
    AppendNamedAmount(&text_, "code", code, paymentJson_[code], report.payments[code]);
  }
  text_ += "]}";
}

void JsonExport::OnTotals(const ReportTotals& totals) {
  text_[variantAt_] = static_cast<char>('0' + (totals.modelVariant == 2 ? 2 : 3));
  text_ += firstReport_ ? "],\n  " : "\n  ],\n  ";
  AppendKey(&text_, "months");
  text_ += '[';
  std::vector<MonthRow> rows = months_.Rows();
  for (size_t i = 0; i < rows.size(); ++i) {
    const MonthRow& row = rows[i];
    text_ += i ? ",\n    {" : "\n    {";
    AppendKey(&text_, "month");
    text_ += '"' + row.MonthText() + "\", ";
    AppendKey(&text_, "reports");
    text_ += std::to_string(row.reports) + ", ";
    AppendKey(&text_, "first_report");
    text_ += std::to_string(row.firstReport) + ", ";
    AppendKey(&text_, "last_report");
    text_ += std::to_string(row.lastReport) + ", ";
    AppendAmountTables(&text_, row.groups, row.tax, row.departments, row.payments);
    text_ += '}';
  }
  text_ += rows.empty() ? "],\n  " : "\n  ],\n  ";
  AppendKey(&text_, "totals");
  text_ += '{';
  AppendAmountTables(&text_, totals.groupTurnover, totals.groupTax, totals.departments, totals.payments);
  text_ += "}\n}\n";
}
