#pragma once
// The ledger's integrity check: per device, the sequence checks of a dump's
// check over its counted daily reports by number (gaps, a number again, a
// clock set back), each report held with a failed CRC, and every refused
// dump and old conflict the ledger noted, as errors. A ledger has no file
// positions; each finding names its device first in its detail ("device ID:
// ...").
#include <string>
#include <vector>

#include "check/finding.h"
#include "ledger/ledger_query.h"

bool CheckLedger(LedgerFile& ledger, const ResolvedSelection& selection, std::vector<Finding>* findings,
                 std::string* err);

// SQLite's own check of every page of the file: each problem it finds is an
// error of kind "ledger-corrupt" (its message, plain ASCII, as the detail).
// Run before anything else is read: the reports of a damaged file cannot be
// trusted. False only when the check itself could not run (busy, ...).
bool CheckLedgerPages(LedgerFile& ledger, std::vector<Finding>* findings, std::string* err);
