#include "server/sums_cache.h"

#include "ledger/ledger_sums.h"
#include "report/report_run.h"

bool SumsCache::Sums(LedgerFile& ledger, const ResolvedSelection& selection, const std::vector<LedgerDevice>& devices,
                     bool deviceMonths, LedgerSelectionSums* sums, std::string* err) {
  if (selection.type != ReportAll) return QuerySums(ledger, selection, sums, err);
  std::map<std::string, int64_t> stamps;
  for (const LedgerDevice& device : devices) stamps[device.id] = device.changed;

  *sums = LedgerSelectionSums();
  std::map<std::pair<int, int>, MonthOverDevices> months;
  std::lock_guard<std::mutex> lock(mutex_);
  for (const std::string& id : selection.devices) {
    Entry& entry = entries_[id];
    if (entry.changed < 0 || entry.changed != stamps[id]) {
      ResolvedSelection one;
      one.devices = {id};
      LedgerSelectionSums fresh;
      if (!QuerySums(ledger, one, &fresh, err) || fresh.devices.size() != 1) {
        entries_.erase(id);
        return false;
      }
      entry.sums = std::move(fresh.devices[0]);
      entry.changed = stamps[id];
    }
    // As QuerySums adds the devices of a selection.
    const DeviceSums& device = entry.sums;
    for (const MonthRow& row : device.months) {
      MonthOverDevices& month = months[{row.year, row.month}];
      AddMonth(row, &month.sums);
      ++month.devices;
    }
    AddTotals(device.totals, &sums->totals);
    sums->reports += device.reports;
    if (deviceMonths) {
      sums->devices.push_back(device);
    } else {
      sums->devices.emplace_back();
      sums->devices.back().device = device.device;
      sums->devices.back().reports = device.reports;
      sums->devices.back().totals = device.totals;
    }
  }
  for (const auto& month : months) sums->months.push_back(month.second);
  // Registers gone from the ledger (a rebuild, a removal) are forgotten.
  for (auto it = entries_.begin(); it != entries_.end();) it = stamps.count(it->first) ? std::next(it) : entries_.erase(it);
  return true;
}
