#pragma once
// The daily reports the ledger holds for one device, as rows with their ids,
// and the rules that follow from the set alone, whatever the order in which
// the dumps came: which rows count, and the order in which they are summed.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "fm/daily_report.h"
#include "ledger/report_row.h"
#include "ledger/sqlite_db.h"

struct HeldReport {
  int64_t id = 0;        // 0 until the row is written
  int64_t dump = 0;      // the dump that brought it
  bool counted = true;   // whether it counts, as decided now
  bool storedCounted = true;  // as the row holds it
  std::unique_ptr<DailyReport> own;     // a row read from the ledger
  const DailyReport* source = nullptr;  // or a report of the dump being added, not copied

  const DailyReport& report() const { return source ? *source : *own; }
  // ReportIdentity(report()), made when first asked for (most rows never are).
  const std::string& Identity() const {
    if (identity_.empty()) identity_ = ReportIdentity(report());
    return identity_;
  }

 private:
  mutable std::string identity_;
};

// Every row of the device, by id.
bool LoadHeldReports(SqliteDb& db, const std::string& device, std::vector<HeldReport>* rows, std::string* err);

// Decides which rows count. An intact report always counts. A copy whose CRC
// failed counts only where no intact report with its number and date-time is
// held, and of several such copies with other content (reads damaged
// differently), only those of one content: the first in the order below.
void MarkCounted(std::vector<HeldReport>* rows);

// The order in which a device's reports are summed: by number (a register
// never reuses one, so for a sound memory this is the order of the memory),
// then recorded date-time, then content. It depends on the reports alone,
// never on the order in which dumps were added.
bool SumOrderLess(const HeldReport& a, const HeldReport& b);
