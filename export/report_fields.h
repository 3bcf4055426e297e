#pragma once
// The values of a daily report as every export shows them.
#include <string>

#include "fm/daily_report.h"

// What an amount adds to the totals: its value where the text report counts
// it, else 0.
inline double CountedValue(const ReportAmount& amount) { return amount.counted ? amount.value : 0; }

// "fractional", "whole" or "error" from the report's own decimal flag; empty
// for model variant 2, whose reports carry no flag.
const char* DecimalPointWord(const DailyReport& report);

// The recorded date and time as "YYYY-MM-DD HH:MM" (carried over as on a
// calendar, no time-zone shift).
void AppendDateTime(std::string* out, const CivilDateTime& civil);
std::string DateTimeText(const DailyReport& report);

// A department name as the exports show it: the stored bytes through the
// device's character map, in UTF-8, without the blank padding.
std::string DepartmentName(const DepartmentAmount& department);
// A payment type's name in UTF-8, without the blank padding.
std::string PaymentNameUtf8(int code);
