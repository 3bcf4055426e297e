#pragma once
// Taking back one add: a dump added by mistake (a wrong file, a wrong
// device, a read whose report numbers are themselves damaged) leaves the
// ledger, and with it every report that no other dump of the device holds.
// The counts and sums become what they would be had the dump never been
// added: they depend on the reports held alone, never on the order of adding.
#include <cstdint>
#include <string>
#include <vector>

#include "ledger/ledger_file.h"

struct DumpRemoval {
  int64_t removed = 0;  // reports that left the ledger
  int64_t kept = 0;     // reports of the dump that other dumps hold too
};

enum RemoveDumpOutcome {
  DumpRemoved,
  DumpNotInLedger,    // the ledger holds no dump with these bytes for the device
  RemoveFailed,       // the ledger is as it was; *err says why
};

// Removes the dump with these bytes (lower-case hex SHA-256) of the device,
// in one transaction.
RemoveDumpOutcome RemoveDump(LedgerFile& ledger, const std::string& device, const std::string& sha256,
                             DumpRemoval* result, std::string* err);

// Forgets the note of a refused dump with these bytes of the device (it was
// withdrawn: `check` lists it no more), in one transaction. *forgotten says
// whether there was one.
bool ForgetRefusedDump(LedgerFile& ledger, const std::string& device, const std::string& sha256, bool* forgotten,
                       std::string* err);

// The devices for which the ledger holds a dump with these bytes, by id.
bool DevicesWithDump(LedgerFile& ledger, const std::string& sha256, std::vector<std::string>* devices,
                     std::string* err);
