#pragma once
// Reading a ledger back: its devices and dumps, the sums of a selection
// (those the ledger keeps per device and month, or, under a filter, made
// from the counted reports themselves in the same order), the daily reports
// of a selection as the reader's values with their device, and the notes of
// refused dumps and old conflicts. Each reads what one read transaction
// (LedgerReadSnapshot) shows when one stands.
#include <functional>
#include <string>
#include <vector>

#include "export/ledger_sums.h"
#include "ledger/ledger_file.h"

struct LedgerSelection {
  std::vector<std::string> devices;  // every device when empty
  int type = 0;                      // ReportAll, ReportByNumber or ReportByDate
  std::string fromText, toText;      // the bounds as typed
};

// The bounds of a selection in the ledger's terms.
struct ResolvedSelection {
  std::vector<std::string> devices;  // sorted, each in the ledger
  int type = 0;
  std::string fromAt, toAt;          // by date: "YYYY-MM-DD HH:MM", inclusive
  int64_t fromNumber = 0, toNumber = 0;
};

enum SelectionProblem { SelectionOk, SelectionBadFrom, SelectionBadTo, SelectionUnknownDevice, SelectionError };

// Checks the bounds as the report run checks them and the devices against
// the ledger. *detail names the unknown device or the database's error.
SelectionProblem ResolveSelection(LedgerFile& ledger, const LedgerSelection& selection, ResolvedSelection* resolved,
                                  std::string* detail);

struct LedgerDevice {
  std::string id;
  int64_t reports = 0;
  int32_t firstNumber = 0, lastNumber = 0;  // the first and last by number
  std::string firstAt, lastAt;
  int64_t dumps = 0;
  std::string lastAdded;
  int64_t changed = 0;  // the ledger's change count at the device's last change
};
bool ListDevices(LedgerFile& ledger, std::vector<LedgerDevice>* devices, std::string* err);

// A dump added to the ledger.
struct LedgerDump {
  std::string device;
  std::string name;      // as it was given to add
  int64_t size = 0;
  std::string sha256;
  std::string addedAt;   // UTC
  int64_t reports = 0, newReports = 0, repaired = 0;
};
// Every dump, by device, then in the order added.
bool ListDumps(LedgerFile& ledger, std::vector<LedgerDump>* dumps, std::string* err);

bool QuerySums(LedgerFile& ledger, const ResolvedSelection& selection, LedgerSelectionSums* sums, std::string* err);

// Every selected daily report, by device, then recorded date-time, then number.
using DeviceReportVisitor = std::function<void(const std::string& device, const DailyReport& report)>;
bool ForEachReport(LedgerFile& ledger, const ResolvedSelection& selection, const DeviceReportVisitor& visit,
                   std::string* err);
// The same while visit returns true; *stopped tells whether it said false.
using DeviceReportWhile = std::function<bool(const std::string& device, const DailyReport& report)>;
bool ForEachReportWhile(LedgerFile& ledger, const ResolvedSelection& selection, const DeviceReportWhile& visit,
                        bool* stopped, std::string* err);

// A conflict the ledger noted when a dump was added.
struct LedgerConflictNote {
  std::string device;
  int32_t number = 0;
  std::string recordedAt;  // YYYY-MM-DD HH:MM
  std::string dump;        // the dump as it was given to add
  std::string addedAt;
};
// The conflicts of the selected devices, by device, then in the order found.
bool ListConflicts(LedgerFile& ledger, const ResolvedSelection& selection, std::vector<LedgerConflictNote>* notes,
                   std::string* err);

// A dump refused because it disagreed with the ledger.
struct LedgerRefusal {
  std::string device;
  std::string dump;        // as it was given to add
  std::string sha256;
  std::string refusedAt;   // UTC
  int32_t number = 0;      // the first disagreeing number, and the dump's report of it
  std::string recordedAt;
  int64_t numbers = 0;     // how many numbers disagree
};
// The refusals of the selected devices, by device, then in the order made.
bool ListRefusals(LedgerFile& ledger, const ResolvedSelection& selection, std::vector<LedgerRefusal>* refusals,
                  std::string* err);
