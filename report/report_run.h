#pragma once
// One report run: a dump file and a filter in, the report file
// (the dump's full name with ".txt" appended) out.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "fm/daily_report.h"
#include "report/ui_services.h"

class CFM;
struct ReportRequest;

enum ReportType {
  ReportAll = 0,
  ReportByNumber = 1,
  ReportByDate = 2,
};

// A further output of a report run beside the text report (an export): fed
// by the same walk, written next to the dump after the report file.
class ReportOutput : public ReportSink {
 public:
  // Called once before the walk: the dump and the filter as typed.
  virtual void Begin(const ReportRequest& request);
  // Writes the output for the dump. False when it was not written in full;
  // the writer has shown why.
  virtual bool Write(const std::string& dumpPath) = 0;
  // The file that "show result" opens instead of the text report; empty to
  // leave that to the text report.
  virtual std::string ViewPath(const std::string& dumpPath) const;
  // A second line for the "Parse successfull" box; empty for none.
  virtual std::string SuccessNote(const std::string& dumpPath) const;
  // A file that "show result" opens after the report (or the view above);
  // empty for none.
  virtual std::string FollowUpPath(const std::string& dumpPath) const;
};

struct ReportRequest {
  std::string dumpPath;
  // When set, the walk reads these bytes (the dump at dumpPath, read once
  // already) instead of the file; they outlive the run.
  const std::vector<uint8_t>* dumpImage = nullptr;
  int reportType = ReportAll;
  std::string fromText;  // bounds as typed
  std::string toText;
  bool showResult = false;  // open the report file when done
  UiWindow owner = nullptr;
  std::vector<ReportOutput*> outputs;  // written after the report file, in order
};

// How a run ended. RunReport gives true only for ReportWritten; the
// command-line tool tells the others apart for its exit status.
enum ReportOutcome {
  ReportWritten = 0,
  ReportInvalidBound = 1,   // "Invalid input value ..." was shown, no file written
  ReportDumpUnreadable = 2, // the dump could not be opened: "Error parsing data", no file
  ReportWriteFailed = 3,    // the report file was not written in full
};

ReportOutcome RunReportWithOutcome(const ReportRequest& request);

// Walks the dump with the request's filter, handing its records, reports and
// totals to sink alone (request.outputs and the text report are not fed).
// ReportInvalidBound after the bound's message; ReportDumpUnreadable after
// "Error parsing data" when the dump could not be opened; else ReportWritten.
ReportOutcome WalkDump(const ReportRequest& request, ReportSink& sink);

// Sets the reader's filter from the request's report type and bound texts.
// False, after the message "Invalid input value ..." for the first invalid
// bound, the lower one first.
bool SetReaderFilter(CFM& reader, const ReportRequest& request);
bool RunReport(const ReportRequest& request);

// A date typed as day/month/year: the calendar time of 00:00:00 of that day,
// or of 23:59:59 with endOfDay. False (and *value 0) for a text that is not a
// valid date.
bool ParseDateBound(const char* text, bool endOfDay, int64_t* value);

// Writes the bytes as the whole file. The new content goes to a temporary file
// beside the target first and replaces the target only when every byte is
// written, so a failed write never destroys the earlier file. A failure shows
// the system's error text (caption "Error", error icon, no owner).
bool WriteBufferToFile(const char* fileName, const char* bytes, int64_t length);

// The request exactly as the main dialog fills it from its controls, for the
// dump at dumpPath: report type by "All records", then "By date", then
// "By rep no."; bounds from "From:" and "To:"; "show result".
ReportRequest ReportRequestFromDialog(UiWindow dialog, const std::string& dumpPath);

// The further outputs a front end adds to the runs its dialog starts, chosen
// from the dialog's options; the run owns them. Empty: the text report only.
using ReportOutputFactory =
    std::function<std::vector<std::unique_ptr<ReportOutput>>(UiWindow dialog)>;

// A run as the dialog starts one on the dump at dumpPath: the request from
// the dialog's controls at this moment, with the outputs `outputs` makes.
ReportOutcome RunReportFromDialog(UiWindow dialog, const std::string& dumpPath,
                                  const ReportOutputFactory& outputs);
