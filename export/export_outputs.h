#pragma once
// The exports a run can write beside the text report.
#include <memory>
#include <string>
#include <vector>

#include "export/export_output.h"

// The exports the Windows program writes beside the report when "export"
// is checked: DUMP.csv in the Excel form and DUMP.html, which "show result" opens.
std::vector<std::unique_ptr<ReportOutput>> MakeDialogExports();

enum ExportFormat { ExportCsv, ExportJson, ExportHtml };

// One export by format; months and excel choose the CSV's form (one row per
// month; Excel's separators and byte-order mark) and are ignored otherwise.
std::unique_ptr<ExportOutput> MakeExport(ExportFormat format, bool months, bool excel);
