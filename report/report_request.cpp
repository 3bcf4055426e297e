#include "report/report_run.h"
#include "res/resource.h"

namespace {
// The dialog's bound fields are read into a 1024-character buffer.
constexpr size_t kBoundTextMax = 1023;

std::string BoundText(UiWindow dialog, int id) {
  std::string text = Ui().GetControlText(dialog, id);
  if (text.size() > kBoundTextMax) text.resize(kBoundTextMax);
  return text;
}
}  // namespace

ReportRequest ReportRequestFromDialog(UiWindow dialog, const std::string& dumpPath) {
  UiServices& ui = Ui();
  ReportRequest request;
  request.dumpPath = dumpPath;
  if (ui.IsChecked(dialog, IDC_ALL_RECORDS))
    request.reportType = ReportAll;
  else if (ui.IsChecked(dialog, IDC_BY_DATE))
    request.reportType = ReportByDate;
  else if (ui.IsChecked(dialog, IDC_BY_NUMBER))
    request.reportType = ReportByNumber;
  request.fromText = BoundText(dialog, IDC_FROM);
  request.toText = BoundText(dialog, IDC_TO);
  request.showResult = ui.IsChecked(dialog, IDC_SHOW_RESULT);
  request.owner = dialog;
  return request;
}

ReportOutcome RunReportFromDialog(UiWindow dialog, const std::string& dumpPath,
                                  const ReportOutputFactory& outputs) {
  ReportRequest request = ReportRequestFromDialog(dialog, dumpPath);
  std::vector<std::unique_ptr<ReportOutput>> owned;
  if (outputs) owned = outputs(dialog);
  for (const std::unique_ptr<ReportOutput>& output : owned) request.outputs.push_back(output.get());
  return RunReportWithOutcome(request);
}
