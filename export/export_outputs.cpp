#include "export/export_outputs.h"

#include "export/csv_export.h"
#include "export/html_export.h"
#include "export/json_export.h"

std::vector<std::unique_ptr<ReportOutput>> MakeDialogExports() {
  std::vector<std::unique_ptr<ReportOutput>> outputs;
  outputs.push_back(std::make_unique<CsvExport>(kExcelCsv));
  outputs.push_back(std::make_unique<HtmlExport>());
  return outputs;
}

std::unique_ptr<ExportOutput> MakeExport(ExportFormat format, bool months, bool excel) {
  switch (format) {
    case ExportJson: return std::make_unique<JsonExport>();
    case ExportHtml: return std::make_unique<HtmlExport>();
    case ExportCsv: break;
  }
  const CsvDialect dialect = excel ? kExcelCsv : kPlainCsv;
  if (months) return std::make_unique<MonthlyCsvExport>(dialect);
  return std::make_unique<CsvExport>(dialect);
}
