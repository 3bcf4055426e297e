#include "ledger/held_reports.h"

#include <unordered_map>

#include "ledger/report_row.h"

bool LoadHeldReports(SqliteDb& db, const std::string& device, std::vector<HeldReport>* rows, std::string* err) {
  rows->clear();
  SqliteStatement select;
  std::string sql = std::string("SELECT id, dump, counted, ") + kReportColumns +
                    " FROM daily_report WHERE device = ?1 ORDER BY id";
  if (!select.Prepare(db, sql.c_str(), err)) return false;
  select.BindText(1, device);
  bool done = false;
  while (select.Step(&done, err)) {
    HeldReport row;
    row.id = select.Int(0);
    row.dump = select.Int(1);
    row.counted = row.storedCounted = select.Int(2) != 0;
    row.own = std::make_unique<DailyReport>();
    ReadReport(select, 3, row.own.get());
    rows->push_back(std::move(row));
  }
  return done;
}

void MarkCounted(std::vector<HeldReport>* rows) {
  // Only the numbers and date-times of damaged copies need a look: whether an
  // intact report shares one, else the first content among the copies.
  struct KeyState {
    bool intact = false;
    const std::string* firstDamaged = nullptr;
  };
  std::unordered_map<std::string, KeyState> damaged;
  for (const HeldReport& row : *rows) {
    if (row.report().crcOk) continue;
    KeyState& state = damaged[ReportKey(row.report())];
    if (!state.firstDamaged || row.Identity() < *state.firstDamaged) state.firstDamaged = &row.Identity();
  }
  if (damaged.empty()) {
    for (HeldReport& row : *rows) row.counted = true;
    return;
  }
  for (const HeldReport& row : *rows) {
    if (!row.report().crcOk) continue;
    auto state = damaged.find(ReportKey(row.report()));
    if (state != damaged.end()) state->second.intact = true;
  }
  for (HeldReport& row : *rows) {
    if (row.report().crcOk) {
      row.counted = true;
      continue;
    }
    const KeyState& state = damaged[ReportKey(row.report())];
    row.counted = !state.intact && row.Identity() == *state.firstDamaged;
  }
}

bool SumOrderLess(const HeldReport& a, const HeldReport& b) {
  if (a.report().number != b.report().number) return a.report().number < b.report().number;
  int64_t atA = PackRecorded(a.report().recorded), atB = PackRecorded(b.report().recorded);
  if (atA != atB) return atA < atB;
  return a.Identity() < b.Identity();
}
