#include "ledger/ledger_sums.h"

#include "export/report_fields.h"
#include "ledger/sqlite_db.h"

namespace {

void AddTables(const double* groups, const double* tax, const double* departments, const double* payments,
               double* toGroups, double* toTax, double* toDepartments, double* toPayments) {
  for (int g = 0; g < kTaxGroupCount; ++g) {
    toGroups[g] += groups[g];
    toTax[g] += tax[g];
  }
  for (int d = 0; d < kDepartmentCount; ++d) toDepartments[d] += departments[d];
  for (int p = 0; p < kPaymentCodeCount; ++p) toPayments[p] += payments[p];
}

}  // namespace

void AddToTotals(const DailyReport& report, ReportTotals* t) {
  for (int g = 0; g < kTaxGroupCount; ++g) {
    if (!report.groups[g].counted) continue;
    t->groupTurnover[g] += report.groups[g].value;
    t->groupTax[g] += report.tax[g];
  }
  for (int d = 0; d < kDepartmentCount; ++d)
    if (report.departments[d].amount.counted) t->departments[d] += report.departments[d].amount.value;
  for (const PaymentSlot& slot : report.slots)
    if (slot.amount.counted) t->payments[slot.code] += slot.amount.value;
}

void AddTotals(const ReportTotals& from, ReportTotals* to) {
  AddTables(from.groupTurnover, from.groupTax, from.departments, from.payments, to->groupTurnover, to->groupTax,
            to->departments, to->payments);
}

void AddMonth(const MonthRow& from, MonthRow* to) {
  if (to->reports == 0) {
    to->year = from.year;
    to->month = from.month;
    to->firstReport = from.firstReport;
  }
  if (from.reports) to->lastReport = from.lastReport;
  to->reports += from.reports;
  AddTables(from.groups, from.tax, from.departments, from.payments, to->groups, to->tax, to->departments,
            to->payments);
}

std::string MonthOf(const DailyReport& report) { return DateTimeText(report).substr(0, 7); }

const char kSumColumns[] =
    "group_1, group_2, group_3, group_4, group_5, group_6, group_7, group_8, "
    "tax_1, tax_2, tax_3, tax_4, tax_5, tax_6, tax_7, tax_8, "
    "department_1, department_2, department_3, department_4, department_5, department_6, department_7, "
    "department_8, department_9, payment_0, payment_1, payment_2, payment_3, payment_4, payment_5, payment_6, "
    "payment_7, payment_8, payment_9, payment_10";

void BindSums(SqliteStatement& s, int first, const double* groups, const double* tax, const double* departments,
              const double* payments) {
  int i = first;
  for (int g = 0; g < kTaxGroupCount; ++g) s.BindDouble(i++, groups[g]);
  for (int g = 0; g < kTaxGroupCount; ++g) s.BindDouble(i++, tax[g]);
  for (int d = 0; d < kDepartmentCount; ++d) s.BindDouble(i++, departments[d]);
  for (int p = 0; p < kPaymentCodeCount; ++p) s.BindDouble(i++, payments[p]);
}

void ReadSums(const SqliteStatement& s, int first, double* groups, double* tax, double* departments,
              double* payments) {
  int i = first;
  for (int g = 0; g < kTaxGroupCount; ++g) groups[g] = s.Double(i++);
  for (int g = 0; g < kTaxGroupCount; ++g) tax[g] = s.Double(i++);
  for (int d = 0; d < kDepartmentCount; ++d) departments[d] = s.Double(i++);
  for (int p = 0; p < kPaymentCodeCount; ++p) payments[p] = s.Double(i++);
}
