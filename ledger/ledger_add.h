#pragma once
// Adding one dump to a ledger. The walk hands its daily reports to a
// DumpReports consumer; AddDump then writes what is new in one transaction,
// so a dump is in the ledger with all of its new reports or not at all.
//
// A report is the same report as one in the ledger when its device, number,
// recorded date-time, every counted amount, decimal flag and CRC result are
// equal. Within a dump every report counts as often as the dump holds it;
// across the dumps of a device a report is held as often as the one dump that
// holds it most often. A register never reuses a report number, so the
// intact reports of a dump and those the ledger holds are compared number by
// number: one must hold all of the other's (an earlier image fewer, a later
// one more). A dump where neither does disagrees with the ledger (another
// register under the same id, or a memory altered since): it is refused
// whole, and the ledger notes the refusal. A report whose CRC failed counts
// only until an intact copy is held. What the ledger holds and sums is thus
// the same whatever the order in which its dumps were added.
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

// A report of a dump, by number and recorded date-time.
struct LedgerConflict {
  int32_t number;
  std::string recordedAt;  // YYYY-MM-DD HH:MM
};

struct DumpAddition {
  int64_t added = 0;     // new reports
  int64_t already = 0;   // reports the ledger held already (damaged copies of held reports among them)
  int64_t repaired = 0;  // intact reports that replaced a held copy whose CRC failed
  // A dump that disagrees: nothing of it was added. Per disagreeing number,
  // the dump's first report of that number, by number.
  bool refused = false;
  std::vector<LedgerConflict> conflicts;
  // Reports whose CRC failed, of reports the ledger holds intact.
  std::vector<LedgerConflict> damagedCopies;
};

// Adds the reports of one dump in one transaction. False with the reason in
// *err (the ledger is then as it was before). A dump that disagrees with the
// ledger is refused (result->refused): only the note of the refusal is
// written. A dump whose bytes the ledger already holds for the device changes
// nothing, not a byte of the file.
bool AddDump(LedgerFile& ledger, const DumpFacts& dump, const DumpReportList& reports,
             DumpAddition* result, std::string* err);

// How adding a dump went.
enum AddDumpOutcome {
  DumpAdded,          // *result says what was new
  DumpDisagrees,      // refused whole: result->conflicts names the numbers
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
