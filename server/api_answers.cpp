#include "server/api_answers.h"

#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>

#include "check/finding.h"
#include "export/json_text.h"
#include "export/ledger_export.h"
#include "ledger/ledger_check.h"
#include "report/report_run.h"

namespace {

using Json = nlohmann::ordered_json;

std::string Dump(const Json& json) { return json.dump(2, ' ', false, Json::error_handler_t::replace) + "\n"; }

Answer Unreadable(const std::string& reason) { return ErrorAnswer(503, "the ledger cannot be read: " + reason); }

// The value of a key given once; false when it is given more often.
bool SingleValue(const QueryParams& query, const char* key, std::string* value, Answer* error) {
  auto range = query.equal_range(key);
  if (range.first == range.second) return true;
  if (std::next(range.first) != range.second) {
    *error = ErrorAnswer(400, std::string("give '") + key + "' once");
    return false;
  }
  *value = range.first->second;
  return true;
}

bool Format(const QueryParams& query, std::initializer_list<const char*> formats, std::string* format,
            Answer* error) {
  if (!SingleValue(query, "format", format, error)) return false;
  if (format->empty()) {
    *format = *formats.begin();
    return true;
  }
  std::string names;
  for (const char* name : formats) {
    if (*format == name) return true;
    names += names.empty() ? name : std::string(", ") + name;
  }
  *error = ErrorAnswer(400, "unknown format '" + *format + "' (" + names + ")");
  return false;
}

bool Flag(const QueryParams& query, const char* key, bool* on, Answer* error) {
  std::string value;
  if (!SingleValue(query, key, &value, error)) return false;
  *on = query.count(key) && value != "0" && value != "false";
  return true;
}

ExportFilter FilterOf(const LedgerSelection& selection) {
  ExportFilter filter;
  filter.type = selection.type;
  filter.from = selection.fromText;
  filter.to = selection.toText;
  return filter;
}

Answer Csv(std::string text) {
  Answer answer;
  answer.contentType = "text/csv; charset=utf-8";
  answer.body = std::move(text);
  return answer;
}

Answer JsonText(std::string text) {
  Answer answer;
  answer.body = std::move(text);
  return answer;
}

// The four amount tables and the leading members of one JSON object.
std::string MonthObject(const MonthRow& row, const std::string& leading) {
  std::string out = "{";
  AppendKey(&out, "month");
  out += '"' + row.MonthText() + "\", " + leading;
  AppendAmountTables(&out, row.groups, row.tax, row.departments, row.payments);
  return out + "}";
}

std::string MonthsJson(const LedgerSelection& selection, const LedgerSelectionSums& sums, bool perDevice) {
  std::string out = "{\n  ";
  AppendJsonFilter(&out, FilterOf(selection));
  out += ",\n  ";
  if (perDevice) {
    AppendKey(&out, "devices");
    out += "[";
    for (size_t d = 0; d < sums.devices.size(); ++d) {
      const DeviceSums& device = sums.devices[d];
      out += d ? ",\n    {" : "\n    {";
      AppendKey(&out, "device");
      AppendString(&out, device.device);
      out += ", ";
      AppendKey(&out, "reports");
      out += std::to_string(device.reports) + ", ";
      AppendKey(&out, "months");
      out += "[";
      for (size_t m = 0; m < device.months.size(); ++m) {
        const MonthRow& row = device.months[m];
        out += m ? ",\n      " : "\n      ";
        out += MonthObject(row, "\"reports\": " + std::to_string(row.reports) + ", \"first_report\": " +
                                    std::to_string(row.firstReport) + ", \"last_report\": " +
                                    std::to_string(row.lastReport) + ", ");
      }
      out += device.months.empty() ? "]}" : "\n    ]}";
    }
    out += sums.devices.empty() ? "]\n}\n" : "\n  ]\n}\n";
    return out;
  }
  AppendKey(&out, "months");
  out += "[";
  for (size_t m = 0; m < sums.months.size(); ++m) {
    const MonthOverDevices& month = sums.months[m];
    out += m ? ",\n    " : "\n    ";
    out += MonthObject(month.sums, "\"devices\": " + std::to_string(month.devices) + ", \"reports\": " +
                                       std::to_string(month.sums.reports) + ", ");
  }
  out += sums.months.empty() ? "],\n  " : "\n  ],\n  ";
  AppendKey(&out, "reports");
  out += std::to_string(sums.reports) + ",\n  ";
  AppendKey(&out, "totals");
  out += "{";
  AppendAmountTables(&out, sums.totals.groupTurnover, sums.totals.groupTax, sums.totals.departments,
                     sums.totals.payments);
  out += "}\n}\n";
  return out;
}

}  // namespace

const char* ErrorName(int status) {
  switch (status) {
    case 400: return "bad_request";
    case 401: return "unauthorized";
    case 403: return "forbidden";
    case 404: return "not_found";
    case 405: return "method_not_allowed";
    case 408: return "request_timeout";
    case 411: return "length_required";
    case 413: return "payload_too_large";
    case 414: return "uri_too_long";
    case 415: return "unsupported_media_type";
    case 416: return "range_not_satisfiable";
    case 417: return "expectation_failed";
    case 431: return "header_fields_too_large";
    case 500: return "internal_error";
    case 503: return "unavailable";
  }
  return status >= 500 ? "server_error" : "client_error";
}

Answer ErrorAnswer(int status, const std::string& detail) { return ErrorAnswer(status, detail, ErrorName(status)); }

Answer ErrorAnswer(int status, const std::string& detail, const char* error) {
  Answer answer;
  answer.status = status;
  answer.body = Json{{"error", error}, {"detail", detail}}.dump(-1, ' ', false,
                                                                           Json::error_handler_t::replace) +
                "\n";
  return answer;
}

bool SelectionOfQuery(LedgerFile& ledger, const QueryParams& query, std::initializer_list<const char*> allowed,
                      LedgerSelection* selection, ResolvedSelection* resolved, Answer* error) {
  for (const auto& entry : query) {
    bool known = entry.first == "device" || entry.first == "from" || entry.first == "to";
    for (const char* key : allowed) known = known || entry.first == key;
    if (!known) {
      *error = ErrorAnswer(400, "unknown parameter '" + entry.first + "'");
      return false;
    }
  }
  auto devices = query.equal_range("device");
  for (auto it = devices.first; it != devices.second; ++it) selection->devices.push_back(it->second);
  if (!SingleValue(query, "from", &selection->fromText, error) ||
      !SingleValue(query, "to", &selection->toText, error))
    return false;
  if (query.count("from") != query.count("to")) {
    *error = ErrorAnswer(400, "give both 'from' and 'to' (dd/mm/yyyy), or neither");
    return false;
  }
  selection->type = query.count("from") ? ReportByDate : ReportAll;
  std::string detail;
  switch (ResolveSelection(ledger, *selection, resolved, &detail)) {
    case SelectionOk: return true;
    case SelectionBadFrom: *error = ErrorAnswer(400, "Invalid input value \"from\""); return false;
    case SelectionBadTo: *error = ErrorAnswer(400, "Invalid input value \"to\""); return false;
    case SelectionUnknownDevice: *error = ErrorAnswer(404, "no device '" + detail + "' in the ledger"); return false;
    case SelectionError: break;
  }
  *error = Unreadable(detail);
  return false;
}

Answer DevicesAnswer(LedgerFile& ledger) {
  std::vector<LedgerDevice> devices;
  std::string reason;
  if (!InSnapshot(ledger, &reason, [&] { return ListDevices(ledger, &devices, &reason); })) return Unreadable(reason);
  Json list = Json::array();
  for (const LedgerDevice& d : devices) {
    const bool any = d.reports > 0;
    list.push_back({{"device", d.id},
                    {"reports", d.reports},
                    {"first_report", any ? Json(d.firstNumber) : Json(nullptr)},
                    {"last_report", any ? Json(d.lastNumber) : Json(nullptr)},
                    {"first_date", any ? Json(d.firstAt) : Json(nullptr)},
                    {"last_date", any ? Json(d.lastAt) : Json(nullptr)},
                    {"dumps", d.dumps},
                    {"last_added", d.lastAdded}});
  }
  return JsonText(Dump(Json{{"devices", list}}));
}

bool CachedSums(LedgerFile& ledger, const ResolvedSelection& selection, SumsCache* cache, bool deviceMonths,
                LedgerSelectionSums* sums, std::string* err) {
  std::vector<LedgerDevice> devices;
  return ListDevices(ledger, &devices, err) && cache->Sums(ledger, selection, devices, deviceMonths, sums, err);
}

Answer MonthsAnswer(LedgerFile& ledger, const QueryParams& query, SumsCache* cache) {
  Answer error;
  std::string format;
  bool perDevice = false;
  if (!Format(query, {"json", "csv", "excel"}, &format, &error) || !Flag(query, "per-device", &perDevice, &error))
    return error;
  LedgerSelection selection;
  ResolvedSelection resolved;
  LedgerSelectionSums sums;
  std::string reason;
  bool selected = false;
  bool read = InSnapshot(ledger, &reason, [&] {
    selected = SelectionOfQuery(ledger, query, {"format", "per-device"}, &selection, &resolved, &error);
    return selected && CachedSums(ledger, resolved, cache, perDevice, &sums, &reason);
  });
  if (!selected) return error;
  if (!read) return Unreadable(reason);
  if (format == "json") return JsonText(MonthsJson(selection, sums, perDevice));
  return Csv(LedgerMonthsCsv(sums, perDevice, format == "excel" ? kExcelCsv : kPlainCsv));
}

namespace {

// The size of the pieces a streamed answer is written in.
constexpr size_t kAnswerPiece = 64 * 1024;

// Every selected report through a writer (the CSV or the JSON of the
// export), its text handed to the sink a piece at a time, so that what is
// held at once stays the same whatever the ledger's size.
template <typename Writer>
bool StreamReports(LedgerFile& ledger, const ResolvedSelection& selection, Writer& writer, AnswerSink& sink,
                   std::string* err) {
  bool gone = false, stopped = false;
  if (!ForEachReportWhile(
          ledger, selection,
          [&](const std::string& device, const DailyReport& report) {
            writer.Add(device, report);
            if (writer.PendingBytes() >= kAnswerPiece) gone = !sink.Write(writer.TakeText());
            return !gone;
          },
          &stopped, err))
    return false;
  if (gone) {
    *err = "the client is gone";
    return false;
  }
  return true;
}

}  // namespace

Answer ReportsAnswer(LedgerFile& ledger, const QueryParams& query, SumsCache* cache) {
  Answer error;
  std::string format;
  if (!Format(query, {"json", "csv", "excel"}, &format, &error)) return error;
  // The snapshot stands from the selection's check to the last report
  // written: the answer is the ledger as it stood at one moment.
  auto snapshot = std::make_shared<LedgerReadSnapshot>(ledger);
  auto selection = std::make_shared<LedgerSelection>();
  auto resolved = std::make_shared<ResolvedSelection>();
  std::string reason;
  if (!snapshot->Begin(&reason)) return Unreadable(reason);
  if (!SelectionOfQuery(ledger, query, {"format"}, selection.get(), resolved.get(), &error)) return error;
  if (format != "json") {
    Answer answer = Csv(std::string());
    const CsvDialect dialect = format == "excel" ? kExcelCsv : kPlainCsv;
    answer.stream = [snapshot, resolved, dialect, &ledger](AnswerSink& sink, std::string* err) {
      LedgerReportsCsv csv(dialect);
      return StreamReports(ledger, *resolved, csv, sink, err) && sink.Write(csv.TakeText());
    };
    return answer;
  }
  auto sums = std::make_shared<LedgerSelectionSums>();
  if (!CachedSums(ledger, *resolved, cache, false, sums.get(), &reason)) return Unreadable(reason);
  Answer answer = JsonText(std::string());
  answer.stream = [snapshot, selection, resolved, sums, &ledger](AnswerSink& sink, std::string* err) {
    LedgerJson json(LedgerExportHeading{kLedgerName, FilterOf(*selection)}, *sums);
    return StreamReports(ledger, *resolved, json, sink, err) && sink.Write(json.Finish());
  };
  return answer;
}

Answer CheckAnswer(LedgerFile& ledger, const QueryParams& query) {
  Answer error;
  LedgerSelection selection;
  ResolvedSelection resolved;
  std::vector<Finding> findings;
  std::string reason;
  bool selected = false;
  bool read = InSnapshot(ledger, &reason, [&] {
    selected = SelectionOfQuery(ledger, query, {}, &selection, &resolved, &error);
    return selected && CheckLedger(ledger, resolved, &findings, &reason);
  });
  if (!selected) return error;
  if (!read) return Unreadable(reason);
  // The counts as the upload's answer names them.
  Json doc = Json::parse(FindingsJson(findings, "ledger", kLedgerName));
  const FindingCounts counts = CountFindings(findings);
  doc["counts"] = {{"errors", counts.errors}, {"warnings", counts.warnings}, {"notes", counts.notes}};
  return JsonText(Dump(doc));
}

Answer UploadAnswer(const UploadResult& result) {
  auto reports = [](const std::vector<LedgerConflict>& list) {
    Json out = Json::array();
    for (const LedgerConflict& report : list) out.push_back({{"report", report.number}, {"date", report.recordedAt}});
    return out;
  };
  Json body = {{"device", result.device},
               {"sha256", result.sha256},
               {"new", result.added.added},
               {"already", result.added.already},
               {"repaired", result.added.repaired},
               {"refused", result.added.refused},
               {"conflicts", reports(result.added.conflicts)},
               {"damaged_copies", reports(result.added.damagedCopies)},
               {"check",
                {{"errors", result.check.errors}, {"warnings", result.check.warnings}, {"notes", result.check.notes}}}};
  return JsonText(Dump(body));
}

Answer WithdrawalAnswer(LedgerService& ledger, const std::string& sha256, const QueryParams& query) {
  Answer error;
  std::string device, why;
  for (const auto& entry : query) {
    if (entry.first != "device" && entry.first != "why")
      return ErrorAnswer(400, "unknown parameter '" + entry.first + "'");
  }
  if (!SingleValue(query, "device", &device, &error) || !SingleValue(query, "why", &why, &error)) return error;
  if (!IsSha256Hex(sha256)) return ErrorAnswer(400, "a dump is named by its SHA-256: 64 lower-case hex digits");
  if (why.size() > 1000) return ErrorAnswer(400, "'why' is at most 1000 bytes");
  WithdrawalResult result;
  std::string reason;
  switch (ledger.Withdraw(sha256, device, why, &result, &reason)) {
    case Withdrawn: break;
    case WithdrawNotStored: return ErrorAnswer(404, reason);
    case WithdrawAmbiguous: return ErrorAnswer(409, reason, "ambiguous");
    case WithdrawFailed:
      std::fprintf(stderr, "taxoscope-server: withdrawing %s: %s\n", sha256.c_str(), reason.c_str());
      return ErrorAnswer(503, "the withdrawal cannot be made now; the server's log says why");
  }
  std::fprintf(stderr, "taxoscope-server: withdrew %s of '%s'%s\n", sha256.c_str(), result.dump.device.c_str(),
               result.already ? " (withdrawn before)" : "");
  Json body = {{"device", result.dump.device},
               {"sha256", result.dump.sha256},
               {"withdrawn_at", result.dump.withdrawnAt},
               {"why", result.dump.why},
               {"already", result.already},
               {"removed", result.removal.removed},
               {"kept", result.removal.kept},
               {"refused_note", result.refusedNote}};
  return JsonText(Dump(body));
}
