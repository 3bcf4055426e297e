#pragma once
// Adding one dump to a ledger. The walk hands its daily reports to a
// DumpReports consumer; AddDump then writes what is new in one transaction,
// so a dump is in the ledger with all of its new reports or not at all.
//
// A report is the same report as one in the ledger when its device, number,
// recorded date-time, every counted amount, decimal flag and CRC result are
// equal. Within a dump every report counts as often as the dump holds it;
// across the dumps of a device a report counts as often as the one dump that
// holds it most often. A report with the number and date-time of one the
// ledger holds from an earlier dump, but other content, is a conflict: it is
// not added, and the ledger keeps a note of it.
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "fm/daily_report.h"
#include "fm/dump_image.h"
#include "ledger/ledger_file.h"

// The daily reports of one walk, in dump order (a deque: a full memory's
// 6,000 reports are never moved as it grows).
using DumpReportList = std::deque<DailyReport>;
class DumpReports : public ReportSink {
 public:
  void OnDailyReport(const DailyReport& report) override { reports_.push_back(report); }
  const DumpReportList& reports() const { return reports_; }

 private:
  DumpReportList reports_;
};

// What the ledger keeps about the dump itself.
struct DumpFacts {
  std::string device;
  std::string name;      // as given on the command line
  int64_t size = 0;
  std::string sha256;    // lower-case hex
  std::string addedAt;   // UTC, YYYY-MM-DDTHH:MM:SSZ
};

struct LedgerConflict {
  int32_t number;
  std::string recordedAt;  // YYYY-MM-DD HH:MM
};

struct DumpAddition {
  int64_t added = 0;    // new reports
  int64_t already = 0;  // reports the ledger held already
  std::vector<LedgerConflict> conflicts;
};

// Adds the reports of one dump in one transaction. False with the reason in
// *err (the ledger is then as it was before). A dump whose bytes the ledger
// already holds for the device, and that brings nothing new, changes nothing.
bool AddDump(LedgerFile& ledger, const DumpFacts& dump, const DumpReportList& reports,
             DumpAddition* result, std::string* err);

// How adding a dump went.
enum AddDumpOutcome {
  DumpAdded,          // with or without conflicts
  DumpUnreadable,     // the dump could not be read; *err says why
  DumpNotOfFamily,    // no dump of this device family; *err is the reason, nothing was added
  LedgerUnwritable,   // the ledger is as it was; *err says why
};

// Adds the reports of a dump's bytes (read once: a file, a stream, an upload)
// for the device; name is the dump as given, addedAt the time to record (UTC
// text). Bytes that are no dump of this device family are refused.
AddDumpOutcome AddDumpImage(LedgerFile& ledger, const DumpBytes& bytes, const std::string& name,
                            const std::string& device, const std::string& addedAt, DumpAddition* result,
                            std::string* err);

// Reads the dump file or stream at path whole, then adds it as AddDumpImage.
AddDumpOutcome AddDumpFile(LedgerFile& ledger, const std::string& path, const std::string& device,
                           const std::string& addedAt, DumpAddition* result, std::string* err);

// The device of a dump file: its name without the folder and without ".bin".
std::string DeviceOfDump(const std::string& path);
// A device id as the ledger keeps and every output writes it: UTF-8. An id
// from a file name or a command line comes in the system's code page on
// Windows and is converted; bytes that are no text become U+FFFD.
std::string LedgerDeviceId(const std::string& id);
// Now, UTC, as the ledger records the time a dump was added.
std::string UtcNowText();
