#include "report/report_run.h"

#include <memory>

#include "fm/dump_image.h"
#include "fm/zelvanm_kl_bul.h"
#include "report/bound_parsing.h"
#include "report/report_buffer.h"
#include "report/text_report.h"

namespace {

// The success box names the program: the platform's default caption would
// read "Error".
const char kProgramName[] = "Taxoscope";

void ShowPlain(UiWindow owner, const char* text) {
  Ui().ShowMessage(owner, text, nullptr, MessageIconNone);
}

}  // namespace

void ReportOutput::Begin(const ReportRequest&) {}
std::string ReportOutput::ViewPath(const std::string&) const { return std::string(); }
std::string ReportOutput::SuccessNote(const std::string&) const { return std::string(); }
std::string ReportOutput::FollowUpPath(const std::string&) const { return std::string(); }

bool SetReaderFilter(CFM& reader, const ReportRequest& request) {
  reader.fromValue = 0;
  reader.toValue = 0;
  reader.reportType = ReportAll;
  if (request.reportType == ReportByDate) {
    reader.reportType = ReportByDate;
    if (!ParseDateBound(request.fromText.c_str(), false, &reader.fromValue)) {
      ShowPlain(request.owner, "Invalid input value \"from\"");
      return false;
    }
    if (!ParseDateBound(request.toText.c_str(), true, &reader.toValue)) {
      ShowPlain(request.owner, "Invalid input value \"to\"");
      return false;
    }
  } else if (request.reportType == ReportByNumber) {
    reader.reportType = ReportByNumber;
    int32_t number = 0;
    if (!ScanInteger(request.fromText.c_str(), &number)) {
      ShowPlain(request.owner, "Invalid input value \"from\"");
      return false;
    }
    reader.fromValue = static_cast<uint32_t>(number);  // zero-extended: -1 is 4294967295
    if (!ScanInteger(request.toText.c_str(), &number)) {
      ShowPlain(request.owner, "Invalid input value \"to\"");
      return false;
    }
    reader.toValue = static_cast<uint32_t>(number);
  }
  return true;
}

ReportOutcome WalkDump(const ReportRequest& request, ReportSink& sink) {
  auto reader = request.dumpImage
                    ? std::make_unique<CZELVANM_KL_BUL>(new CInputMemory(
                          request.dumpImage->data(), static_cast<int64_t>(request.dumpImage->size())))
                    : std::make_unique<CZELVANM_KL_BUL>(request.dumpPath.c_str());
  if (!SetReaderFilter(*reader, request)) return ReportInvalidBound;
  reader->sink = &sink;
  int32_t parsed = reader->Parse();
  reader.reset();  // closes the dump file

  // Parse fails only when the dump could not be opened: an all-zero report
  // would pass for the real thing, so none is written.
  if (!parsed) {
    Ui().ShowMessage(request.owner, "Error parsing data", nullptr, MessageIconError);
    return ReportDumpUnreadable;
  }
  return ReportWritten;
}

ReportOutcome RunReportWithOutcome(const ReportRequest& request) {
  ResetReportBuffer();
  ReportSinks consumers;
  consumers.Add(&TheTextReport());
  for (ReportOutput* output : request.outputs) {
    output->Begin(request);
    consumers.Add(output);
  }
  ReportOutcome walked = WalkDump(request, consumers);
  if (walked != ReportWritten) return walked;

  std::string reportName = request.dumpPath + ".txt";
  if (!WriteBufferToFile(reportName.c_str(), ReportText(), static_cast<int64_t>(ReportLength())))
    return ReportWriteFailed;
  std::string viewName = reportName;
  for (ReportOutput* output : request.outputs) {
    if (!output->Write(request.dumpPath)) return ReportWriteFailed;
    std::string view = output->ViewPath(request.dumpPath);
    if (!view.empty()) viewName = view;
  }

  if (request.showResult) {
    Ui().OpenFile(request.owner, viewName.c_str());
    for (ReportOutput* output : request.outputs) {
      std::string followUp = output->FollowUpPath(request.dumpPath);
      if (!followUp.empty()) Ui().OpenFile(request.owner, followUp.c_str());
    }
    return ReportWritten;
  }
  std::string message = "Parse successfull";
  for (ReportOutput* output : request.outputs) {
    std::string note = output->SuccessNote(request.dumpPath);
    if (!note.empty()) message += "\n" + note;
  }
  Ui().ShowMessage(request.owner, message.c_str(), kProgramName, MessageIconInformation);
  return ReportWritten;
}

bool RunReport(const ReportRequest& request) {
  return RunReportWithOutcome(request) == ReportWritten;
}
