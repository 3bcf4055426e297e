#include "ledger/ledger_changes.h"

bool CountLedgerChange(SqliteDb& db, const std::string& device, std::string* err) {
  SqliteStatement count, stamp;
  if (!count.Prepare(db, "UPDATE ledger_state SET changes = changes + 1 WHERE id = 1", err) || !count.Run(err))
    return false;
  if (device.empty()) return true;
  if (!stamp.Prepare(db, "UPDATE device SET changed = (SELECT changes FROM ledger_state WHERE id = 1) WHERE id = ?1",
                     err))
    return false;
  stamp.BindText(1, device);
  return stamp.Run(err);
}
