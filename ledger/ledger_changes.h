#pragma once
// The ledger's count of its changes (ledger_state.changes) and each device's
// stamp of its last change (device.changed): every transaction that changes
// what the ledger holds counts one more, in that transaction, whichever
// program writes. A reader that keeps what it read (the server's monthly
// sums) compares stamps instead of reading again.
#include <cstdint>
#include <string>

#include "ledger/sqlite_db.h"

// One more change; the device, when it still has its row, takes the new
// count as its stamp. An empty device counts the change alone (a refusal's
// note changes no sum).
bool CountLedgerChange(SqliteDb& db, const std::string& device, std::string* err);
