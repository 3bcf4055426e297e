#pragma once
// The monthly sums of a ledger of hundreds of registers take the ledger a
// tenth of a second to read (every register's every month), while an upload
// changes one register. The server keeps each register's sums as the ledger
// gave them, with the register's stamp of its last change (the ledger's own
// change counter, which every add, repair and remove moves in its
// transaction, whichever program writes), and reads again only the registers
// whose stamp moved. The sums over the registers are then
// added as the ledger adds them (registers in the order of their ids, months
// in order), so an answer is the ledger's own to the last bit.
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "export/ledger_sums.h"
#include "ledger/ledger_query.h"

class SumsCache {
 public:
  // The unfiltered sums of the selected devices, as QuerySums gives them;
  // without deviceMonths, each device's own months are left out (the table
  // over the devices needs only their sums). devices: ListDevices of the
  // same read transaction.
  bool Sums(LedgerFile& ledger, const ResolvedSelection& selection, const std::vector<LedgerDevice>& devices,
            bool deviceMonths, LedgerSelectionSums* sums, std::string* err);

 private:
  struct Entry {
    int64_t changed = -1;
    DeviceSums sums;
  };
  std::mutex mutex_;
  std::map<std::string, Entry> entries_;
};
