#pragma once
// The sums a ledger gives for a selection of devices: per device its totals
// and its months, and per month the sum over the devices. The ledger's
// exports and its summary are written from these; they hold no SQL.
#include <cstdint>
#include <string>
#include <vector>

#include "export/month_table.h"
#include "fm/daily_report.h"

struct DeviceSums {
  std::string device;
  int64_t reports = 0;
  ReportTotals totals;
  std::vector<MonthRow> months;  // ascending
};

struct MonthOverDevices {
  MonthRow sums;     // firstReport and lastReport mean nothing here
  int devices = 0;   // devices with daily reports in the month
};

struct LedgerSelectionSums {
  std::vector<DeviceSums> devices;  // by device id
  std::vector<MonthOverDevices> months;  // ascending
  ReportTotals totals;  // the devices' totals added in device order
  int64_t reports = 0;
};
