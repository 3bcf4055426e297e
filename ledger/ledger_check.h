#pragma once
// The ledger's integrity check: per device, the sequence checks of a dump's
// check over its daily reports in the order they were stored (gaps, numbers
// going back, a clock set back), and every conflict the ledger noted as an
// error. A ledger has no file positions; each finding names its device first
// in its detail ("device ID: ...").
#include <string>
#include <vector>

#include "check/finding.h"
#include "ledger/ledger_query.h"

bool CheckLedger(LedgerFile& ledger, const ResolvedSelection& selection, std::vector<Finding>* findings,
                 std::string* err);
