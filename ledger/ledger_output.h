#pragma once
// The ledger as one more output of a report run (the Windows program's
// "ledger" check box): after the report, the whole dump is added to
// ledger.db in the dump's folder and ledger.html there is rewritten (the
// HTML export of the whole ledger). The run's filter does not apply: the
// ledger takes every daily report of the dump. A failure shows its message
// (caption "Error", error icon, no owner) like a report that cannot be
// written; the dump and the report are already written by then.
#include <string>

#include "report/report_run.h"

class LedgerOutput : public ReportOutput {
 public:
  bool Write(const std::string& dumpPath) override;
};

// The folder part of a path, with its separator ("" for a bare name).
std::string FolderOf(const std::string& path);
