#include "export/json_text.h"

#include <nlohmann/json.hpp>

#include "export/amount_text.h"
#include "export/report_fields.h"

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

void AppendJsonFilter(std::string* out, const ExportFilter& filter) {
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
JsonReportWriter::JsonReportWriter() {
  for (int code = 0; code < kPaymentCodeCount; ++code) AppendString(&paymentJson_[code], PaymentNameUtf8(code));
}

void JsonReportWriter::Append(std::string* out, const DailyReport& report, const std::string& leadingMembers) {
  *out += '{';
  *out += leadingMembers;
  AppendKey(out, "number");
  *out += std::to_string(report.number);
  *out += ", ";
  AppendKey(out, "date");
  *out += '"';
  AppendDateTime(out, report.Civil());
  *out += "\", ";
  AppendKey(out, "decimal_point");
  if (report.modelVariant == 2) {
    *out += "null";
  } else {
    *out += '"';
    *out += DecimalPointWord(report);
    *out += '"';
  }
  *out += ", ";
  AppendKey(out, "crc_ok");
  *out += report.crcOk ? "true, " : "false, ";

  double groups[kTaxGroupCount];
  for (int g = 0; g < kTaxGroupCount; ++g) groups[g] = CountedValue(report.groups[g]);
  AppendAmounts(out, "groups", groups, kTaxGroupCount);
  *out += ", ";
  AppendAmounts(out, "tax", report.tax, kTaxGroupCount);
  *out += ", ";

  AppendKey(out, "departments");
  *out += '[';
  bool first = true;
  for (int d = 0; d < kDepartmentCount; ++d) {
    const DepartmentAmount& department = report.departments[d];
    if (!department.amount.counted) continue;
    if (!first) *out += ", ";
    first = false;
    // An empty cache is no name yet (a name, even empty, is at least "").
    if (departmentJson_[d].empty() || departmentRaw_[d] != department.mappedName) {
      departmentRaw_[d] = department.mappedName;
      departmentJson_[d].clear();
      AppendString(&departmentJson_[d], DepartmentName(department));
    }
    AppendNamedAmount(out, "number", d + 1, departmentJson_[d], department.amount.value);
  }
  *out += "], ";

  AppendKey(out, "payments");
  *out += '[';
  first = true;
  for (int code = 0; code < kPaymentCodeCount; ++code) {
    if (!(report.payments[code] > 0)) continue;  // only counted slots add to a code
    if (!first) *out += ", ";
    first = false;
    AppendNamedAmount(out, "code", code, paymentJson_[code], report.payments[code]);
  }
  *out += "]}";
}

