#pragma once
// A daily report as one row of the ledger's daily_report table, and back.
// Amounts go in as integer hundredths (the stored whole units of a
// whole-number report times 100) and come back as the very texts and values
// the reader gives; tax shares and rates go in as the doubles they are.
#include <cstdint>
#include <string>

#include "fm/daily_report.h"
#include "ledger/sqlite_db.h"

// The report's columns in the order BindReport and ReadReport use them.
extern const char kReportColumns[];
constexpr int kReportColumnCount = 57;

// Binds the report's columns to the parameters first .. first + kReportColumnCount - 1;
// the report must stay as it is until the statement has run.
void BindReport(SqliteStatement& statement, int first, const DailyReport& report);
// Fills *report from the columns first .. first + kReportColumnCount - 1 of the current row.
void ReadReport(const SqliteStatement& statement, int first, DailyReport* report);

// The date-time fields as stored (year within the century, up to 100) as one
// number YYMMDDhhmm, and back.
int64_t PackRecorded(const RecordedDateTime& recorded);
RecordedDateTime UnpackRecorded(int64_t packed);

// What makes two reads of a report the same report: the number, the recorded
// date-time, every counted amount, the decimal flag and the CRC result.
std::string ReportIdentity(const DailyReport& report);
// The part of the identity that two different reports can share: the number
// and the recorded date-time.
std::string ReportKey(const DailyReport& report);
