#pragma once
// Sums of daily reports as a dump's outputs make them: each counted amount
// added on its own, in the order the reports come, into 8-byte doubles. A
// ledger keeps these per device and per device and month, made from its
// counted reports by number, so its totals for a device are the report's of
// its latest dump.
#include <cstdint>
#include <string>

#include "export/month_table.h"
#include "fm/daily_report.h"

// Adds one report's counted amounts to totals: turnover and tax by group,
// departments, and payments slot by slot, as the text report's totals add
// them, so that they equal it to the last bit. (A month adds a report with
// MonthRow::Add, as a dump's monthly table does.)
void AddToTotals(const DailyReport& report, ReportTotals* totals);
// Adds sums made elsewhere (another device's), table by table.
void AddTotals(const ReportTotals& from, ReportTotals* to);
void AddMonth(const MonthRow& from, MonthRow* to);

// "YYYY-MM" of the report's recorded date on a calendar, and its year and month.
std::string MonthOf(const DailyReport& report);

class SqliteStatement;

// The 36 sum columns of the device and device_month tables: group_1..8,
// tax_1..8, department_1..9, payment_0..10.
extern const char kSumColumns[];
constexpr int kSumColumnCount = 36;
void BindSums(SqliteStatement& statement, int first, const double* groups, const double* tax,
              const double* departments, const double* payments);
void ReadSums(const SqliteStatement& statement, int first, double* groups, double* tax, double* departments,
              double* payments);
