#pragma once
// The pieces of the JSON exports, shared by a dump's export and a ledger's.
// Amounts are JSON numbers with exactly two decimals.
#include <string>

#include "export/export_output.h"
#include "fm/daily_report.h"

// A JSON string with the library's escaping (invalid UTF-8 becomes U+FFFD).
void AppendString(std::string* out, const std::string& text);
// "key": (the keys are plain ASCII names)
void AppendKey(std::string* out, const char* key);
void AppendAmounts(std::string* out, const char* key, const double* values, int count);
// "groups", "tax", "departments" and "payments": the columns of a month and of the totals.
void AppendAmountTables(std::string* out, const double* groups, const double* tax, const double* departments,
                        const double* payments);
void AppendNamedAmount(std::string* out, const char* numberKey, int number, const std::string& name, double amount);
// "filter": {"type": ..., "from": ..., "to": ...}
void AppendJsonFilter(std::string* out, const ExportFilter& filter);

// One daily report as a JSON object. A register keeps its department names
// for long, so each name is escaped once and kept.
class JsonReportWriter {
 public:
  JsonReportWriter();
  // leadingMembers: members that go first, already JSON ("\"device\": \"X\", ").
  void Append(std::string* out, const DailyReport& report, const std::string& leadingMembers = std::string());

 private:
  std::string paymentJson_[kPaymentCodeCount];
  std::string departmentRaw_[kDepartmentCount];
  std::string departmentJson_[kDepartmentCount];
};
