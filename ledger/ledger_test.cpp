// The ledger against the text report: real dumps walked by the real reader,
// added to a real SQLite file and read back.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "export/ledger_export.h"
#include "ledger/ledger_add.h"
#include "ledger/ledger_output.h"
#include "ledger/ledger_query.h"
#include "ledger/ledger_remove.h"
#include "ledger/ledger_schema.h"
#include "ledger/sha256.h"
#include "report/report_run.h"
#include "sim/dump_builder.h"
#include "testsupport/fake_ui.h"
#include "testsupport/temp_dir.h"

namespace {

// The daily reports, a dump export's monthly table and the text report's
// totals of one walk.
struct Walked : DumpReports {
  void OnDailyReport(const DailyReport& report) override {
    DumpReports::OnDailyReport(report);
    months.Add(report);
  }
  void OnTotals(const ReportTotals& t) override { totals = t; }
  MonthTable months;
  ReportTotals totals;
};

class LedgerAdd : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string err;
    ASSERT_TRUE(ledger.Open(dir.File("ledger.db"), LedgerReadWrite, &err)) << err;
  }

  // Writes the image as the device's dump, walks it and adds it.
  DumpAddition Add(const std::vector<uint8_t>& image, const std::string& device, Walked* walked = nullptr) {
    std::string path = dir.File(device + ".bin"), err;
    EXPECT_TRUE(WriteDumpFile(path, image, &err)) << err;
    Walked local;
    Walked& w = walked ? *walked : local;
    ReportRequest request;
    request.dumpPath = path;
    EXPECT_EQ(WalkDump(request, w), ReportWritten);
    DumpFacts facts{device, path, static_cast<int64_t>(image.size()), Sha256Hex(image.data(), image.size()),
                    "2024-01-01T00:00:00Z"};
    DumpAddition added;
    EXPECT_TRUE(AddDump(ledger, facts, w.reports(), &added, &err)) << err;
    return added;
  }

  DeviceSums Sums(const std::string& device) {
    ResolvedSelection selection;
    selection.devices = {device};
    LedgerSelectionSums sums;
    std::string err;
    EXPECT_TRUE(QuerySums(ledger, selection, &sums, &err)) << err;
    return sums.devices.at(0);
  }

  static void ExpectSameTotals(const ReportTotals& a, const ReportTotals& b) {
    for (int g = 0; g < kTaxGroupCount; ++g) {
      EXPECT_EQ(a.groupTurnover[g], b.groupTurnover[g]) << g;
      EXPECT_EQ(a.groupTax[g], b.groupTax[g]) << g;
    }
    for (int d = 0; d < kDepartmentCount; ++d) EXPECT_EQ(a.departments[d], b.departments[d]) << d;
    for (int p = 0; p < kPaymentCodeCount; ++p) EXPECT_EQ(a.payments[p], b.payments[p]) << p;
  }

  // The device's totals are the text report's, its months a dump export's
  // monthly table, to the last bit.
  void ExpectSumsOf(const std::string& device, const Walked& walked) {
    DeviceSums sums = Sums(device);
    ExpectSameTotals(sums.totals, walked.totals);
    std::vector<MonthRow> months = walked.months.Rows();
    ASSERT_EQ(sums.months.size(), months.size());
    for (size_t m = 0; m < months.size(); ++m) {
      EXPECT_EQ(sums.months[m].MonthText(), months[m].MonthText());
      EXPECT_EQ(sums.months[m].reports, months[m].reports);
      for (int g = 0; g < kTaxGroupCount; ++g) {
        EXPECT_EQ(sums.months[m].groups[g], months[m].groups[g]);
        EXPECT_EQ(sums.months[m].tax[g], months[m].tax[g]);
      }
      for (int d = 0; d < kDepartmentCount; ++d) EXPECT_EQ(sums.months[m].departments[d], months[m].departments[d]);
      for (int p = 0; p < kPaymentCodeCount; ++p) EXPECT_EQ(sums.months[m].payments[p], months[m].payments[p]);
    }
  }

  TempDir dir;
  LedgerFile ledger;
};

// A register's memory after `count` daily reports; report `changed` (if any)
// holds other amounts under the same number and date. After report
// `doubled` the memory holds a second, other report under its number and
// date-time (as a damaged memory may); the reports in `damaged` were read
// over a bad line: other amounts, and their CRC fails.
std::vector<uint8_t> Memory(int count, int changed = 0, int doubled = 0, const std::vector<int>& damaged = {}) {
  const uint16_t rates[8] = {2000, 900, 0, kRateUnset, kRateUnset, kRateUnset, kRateUnset, kRateUnset};
  DumpBuilder dump;
  dump.Erased(16).ModelRecord().ModeAndRates(kModeFractional, rates);
  for (int n = 1; n <= count; ++n) {
    ReportData report;
    report.number = static_cast<uint16_t>(n);
    report.dateTime = PackDateTime(21, 1 + n / 28 % 12, 1 + n % 28, 20, n % 60);
    report.groups[0] = 1000u * static_cast<uint32_t>(n) + 7 + (n == changed ? 1 : 0);
    report.groups[1] = 333u * static_cast<uint32_t>(n % 5);
    report.departments[2] = {"Kafe", 500u * static_cast<uint32_t>(n), 0};
    report.payments[0] = {1000u * static_cast<uint32_t>(n), 0};
    report.payments[1] = {10, 7};
    report.payments[2] = {20, 7};  // the totals add them one by one, a month their sum
    const bool bad = std::find(damaged.begin(), damaged.end(), n) != damaged.end();
    if (bad) report.groups[0] += 40000;
    dump.Report(report);
    if (bad) dump.CorruptLastCrc();
    if (n == doubled) {
      report.groups[0] += 55;
      dump.Report(report);
    }
  }
  return std::vector<uint8_t>(dump.bytes());
}

TEST_F(LedgerAdd, TotalsOfEveryGeneratedDumpAreTheTextReports) {
  const GenerateOptions cases[] = {{1, 3, 6500, {}, false}, {2, 3, 900, {}, true}, {3, 2, 2000, {}, false},
                                   {4, 2, 400, {}, true}, {5, 3, 300, {2000, 900, 750, 1800}, false}};
  int index = 0;
  for (const GenerateOptions& options : cases) {
    std::string device = "DV" + std::to_string(index++);
    Walked walked;
    DumpAddition added = Add(GenerateDump(options), device, &walked);
    EXPECT_EQ(added.added, static_cast<int64_t>(walked.reports().size()));
    EXPECT_EQ(Sums(device).reports, added.added);
    ExpectSumsOf(device, walked);
  }
}

TEST_F(LedgerAdd, ALaterReadAddsOnlyItsNewReportsAndAnEarlierOneNothing) {
  Walked later;
  EXPECT_EQ(Add(Memory(40), "DV1").added, 40);
  DumpAddition second = Add(Memory(90), "DV1", &later);
  EXPECT_EQ(second.added, 50);
  EXPECT_EQ(second.already, 40);
  ExpectSumsOf("DV1", later);

  // Re-reading and adding again changes nothing, not a byte of the file.
  std::string before = ReadFileBytes(dir.File("ledger.db"));
  DumpAddition again = Add(Memory(90), "DV1");
  EXPECT_EQ(again.added, 0);
  EXPECT_EQ(again.already, 90);
  EXPECT_EQ(ReadFileBytes(dir.File("ledger.db")), before);
  EXPECT_EQ(Add(Memory(40), "DV1").added, 0);
  ExpectSameTotals(Sums("DV1").totals, later.totals);
}

TEST_F(LedgerAdd, AReportTwiceInOneDumpCountsTwiceAndAConflictIsNotAdded) {
  std::vector<uint8_t> twice = Memory(3);
  std::vector<uint8_t> once = Memory(3);
  const std::vector<uint8_t> report(once.end() - 334, once.end());
  twice.insert(twice.end(), report.begin(), report.end());
  Walked walked;
  EXPECT_EQ(Add(twice, "DV2", &walked).added, 4);
  EXPECT_EQ(Add(once, "DV2").already, 3);
  ExpectSumsOf("DV2", walked);

  // Another register under the same id: report 2 differs, report 4 would be
  // new. The dump is refused whole, and the refusal noted.
  DumpAddition clash = Add(Memory(4, 2), "DV2");
  EXPECT_TRUE(clash.refused);
  ASSERT_EQ(clash.conflicts.size(), 1u);
  EXPECT_EQ(clash.conflicts[0].number, 2);
  EXPECT_EQ(clash.added, 0);
  ExpectSumsOf("DV2", walked);
  ResolvedSelection selection;
  selection.devices = {"DV2"};
  std::vector<LedgerRefusal> refusals;
  std::string err;
  ASSERT_TRUE(ListRefusals(ledger, selection, &refusals, &err)) << err;
  ASSERT_EQ(refusals.size(), 1u);
  EXPECT_EQ(refusals[0].number, 2);
  EXPECT_EQ(refusals[0].numbers, 1);
}

// An earlier image, the full image and a read over a bad line of one memory
// that holds two reports under number 5: the ledger ends the same in every
// order of adding, with the full image's totals to the last bit.
TEST_F(LedgerAdd, TheOrderOfAddingChangesNothing) {
  const std::vector<uint8_t> dumps[3] = {Memory(5), Memory(40, 0, 5), Memory(40, 0, 5, {7, 30})};
  Walked full;
  {
    ReportRequest request;
    std::string err, path = dir.File("full.bin");
    ASSERT_TRUE(WriteDumpFile(path, dumps[1], &err));
    request.dumpPath = path;
    ASSERT_EQ(WalkDump(request, full), ReportWritten);
  }
  int order[3] = {0, 1, 2};
  std::string first;
  do {
    const std::string device = "DV" + std::to_string(order[0]) + std::to_string(order[1]) + std::to_string(order[2]);
    for (int i : order) {
      Walked walked;
      DumpAddition added = Add(dumps[i], device, &walked);
      EXPECT_FALSE(added.refused) << device;
      EXPECT_EQ(added.added + added.already + added.repaired, static_cast<int64_t>(walked.reports().size())) << device;
    }
    ExpectSumsOf(device, full);
    ResolvedSelection selection;
    selection.devices = {device};
    std::string rows, err;
    ASSERT_TRUE(ForEachReport(ledger, selection,
                              [&](const std::string&, const DailyReport& r) {
                                rows += std::to_string(r.number) + " " + r.groups[0].text + " " +
                                        (r.crcOk ? "ok" : "bad") + "|";
                              },
                              &err))
        << err;
    if (first.empty()) first = rows;
    EXPECT_EQ(rows, first) << device;
  } while (std::next_permutation(order, order + 3));
  EXPECT_NE(first.find("|5 50.07 ok|5 50.62 ok|6 60.07 ok|7 70.07 ok|"), std::string::npos) << first;
}

TEST_F(LedgerAdd, AnIntactCopyRepairsADamagedOneAndADamagedCopyOfAnIntactOneCountsAsHeld) {
  Walked intact;
  Add(Memory(12, 0, 0, {4}), "DV3");
  DumpAddition repair = Add(Memory(12), "DV3", &intact);
  EXPECT_EQ(repair.repaired, 1);
  EXPECT_EQ(repair.added, 0);
  EXPECT_EQ(repair.already, 11);
  ExpectSumsOf("DV3", intact);

  Add(Memory(12), "DV4");
  DumpAddition copy = Add(Memory(14, 0, 0, {4}), "DV4");
  ASSERT_EQ(copy.damagedCopies.size(), 1u);
  EXPECT_EQ(copy.damagedCopies[0].number, 4);
  EXPECT_EQ(copy.added, 2);
  EXPECT_EQ(copy.already, 12);
  Walked later;
  Add(Memory(14), "DV5", &later);
  ExpectSumsOf("DV4", later);
}

// A reader's snapshot is one moment of the ledger: a writer on another
// connection cannot commit while it stands, and commits once it ends.
TEST_F(LedgerAdd, AReadSnapshotIsOneMomentOfTheLedger) {
  Add(Memory(10), "DV1");
  std::string err, later = dir.File("later.bin");
  ASSERT_TRUE(WriteDumpFile(later, Memory(20), &err)) << err;
  LedgerFile reader, writer;
  ASSERT_TRUE(reader.Open(dir.File("ledger.db"), LedgerReadOnly, &err)) << err;
  writer.SetBusyTimeout(50);
  ASSERT_TRUE(writer.Open(dir.File("ledger.db"), LedgerReadWrite, &err)) << err;

  auto held = [&](LedgerFile& file) {
    std::vector<LedgerDevice> devices;
    std::string why;
    EXPECT_TRUE(ListDevices(file, &devices, &why)) << why;
    return devices.empty() ? int64_t{-1} : devices[0].reports;
  };
  DumpAddition added;
  {
    LedgerReadSnapshot snapshot(reader);
    ASSERT_TRUE(snapshot.Begin(&err)) << err;
    EXPECT_EQ(held(reader), 10);
    EXPECT_EQ(AddDumpFile(writer, later, "DV1", "2024-01-02T00:00:00Z", &added, &err), LedgerUnwritable);
    EXPECT_EQ(held(reader), 10);
  }
  EXPECT_EQ(AddDumpFile(writer, later, "DV1", "2024-01-02T00:00:00Z", &added, &err), DumpAdded) << err;
  EXPECT_EQ(added.added, 10);
  LedgerReadSnapshot snapshot(reader);
  ASSERT_TRUE(snapshot.Begin(&err)) << err;
  EXPECT_EQ(held(reader), 20);
}

// The whole export of a ledger: its JSON (devices with their totals, every
// report, the months over the devices) and both monthly CSVs.
std::string WholeExport(LedgerFile& ledger) {
  ResolvedSelection selection;
  std::string err;
  EXPECT_EQ(ResolveSelection(ledger, LedgerSelection(), &selection, &err), SelectionOk) << err;
  LedgerSelectionSums sums;
  EXPECT_TRUE(QuerySums(ledger, selection, &sums, &err)) << err;
  LedgerExportHeading heading{"ledger.db", ExportFilter()};
  LedgerJson json(heading, sums);
  EXPECT_TRUE(ForEachReport(ledger, selection, [&](const std::string& d, const DailyReport& r) { json.Add(d, r); },
                            &err))
      << err;
  return json.Finish() + LedgerMonthsCsv(sums, false, kPlainCsv) + LedgerMonthsCsv(sums, true, kPlainCsv);
}

// A, B and C added, then B taken back: the ledger is what A and C alone
// make. A is an earlier read with a damaged report that B repaired, C an
// image between them; another device stays as it was.
TEST_F(LedgerAdd, RemovingADumpLeavesWhatTheOthersAloneMake) {
  const std::vector<uint8_t> a = Memory(18, 0, 0, {4}), b = Memory(40), c = Memory(25, 0, 0, {20});
  Add(Memory(12), "OTHER");
  Add(a, "DV1");
  EXPECT_EQ(Add(b, "DV1").repaired, 1);
  Add(c, "DV1");
  DumpRemoval removal;
  std::string err;
  ASSERT_EQ(RemoveDump(ledger, "DV1", Sha256Hex(b.data(), b.size()), &removal, &err), DumpRemoved) << err;
  // 26..40 leave, and B's intact 20: C's damaged copy of it counts again.
  EXPECT_EQ(removal.removed, 16);
  EXPECT_EQ(removal.kept, 24);
  EXPECT_EQ(RemoveDump(ledger, "DV1", Sha256Hex(b.data(), b.size()), &removal, &err), DumpNotInLedger);

  LedgerFile fresh;
  ASSERT_TRUE(fresh.Open(dir.File("fresh.db"), LedgerReadWrite, &err)) << err;
  for (const auto& dump : {std::make_pair(Memory(12), "OTHER"), std::make_pair(a, "DV1"), std::make_pair(c, "DV1")}) {
    std::string path = dir.File("fresh.bin");
    ASSERT_TRUE(WriteDumpFile(path, dump.first, &err)) << err;
    DumpAddition added;
    ASSERT_EQ(AddDumpFile(fresh, path, dump.second, "2024-01-01T00:00:00Z", &added, &err), DumpAdded) << err;
  }
  EXPECT_EQ(WholeExport(ledger), WholeExport(fresh));
  EXPECT_NE(WholeExport(ledger).find("\"crc_ok\": false"), std::string::npos);

  // A device whose one dump is taken back leaves the ledger.
  const std::vector<uint8_t> other = Memory(12);
  ASSERT_EQ(RemoveDump(ledger, "OTHER", Sha256Hex(other.data(), other.size()), &removal, &err), DumpRemoved);
  EXPECT_EQ(removal.removed, 12);
  std::vector<LedgerDevice> devices;
  ASSERT_TRUE(ListDevices(ledger, &devices, &err)) << err;
  ASSERT_EQ(devices.size(), 1u);
  EXPECT_EQ(devices[0].id, "DV1");
}

// Every transaction that changes what the ledger holds counts once, in the
// ledger itself, and stamps the device it changed; adding the same bytes
// again changes not even the count. A dump taken back and another added in
// its place with the same counts, numbers and dates moves the stamp too.
TEST_F(LedgerAdd, EveryChangeIsCountedAndStampsItsDevice) {
  auto changes = [&] {
    SqliteStatement select;
    std::string err;
    bool done = false;
    EXPECT_TRUE(select.Prepare(ledger.db(), "SELECT changes FROM ledger_state", &err)) << err;
    EXPECT_TRUE(select.Step(&done, &err)) << err;
    return select.Int(0);
  };
  auto stamps = [&] {
    std::vector<LedgerDevice> devices;
    std::string err, out;
    EXPECT_TRUE(ListDevices(ledger, &devices, &err)) << err;
    for (const LedgerDevice& device : devices) out += device.id + "=" + std::to_string(device.changed) + " ";
    return out;
  };
  EXPECT_EQ(changes(), 0);
  Add(Memory(40), "DV1");
  Add(Memory(12), "OTHER");
  EXPECT_EQ(changes(), 2);
  EXPECT_EQ(stamps(), "DV1=1 OTHER=2 ");
  Add(Memory(40), "DV1");
  EXPECT_EQ(changes(), 2) << "the same bytes again";
  EXPECT_TRUE(Add(Memory(40, 2), "DV1").refused);
  EXPECT_EQ(changes(), 3) << "the refusal is noted";
  Add(Memory(40, 2), "DV1");
  EXPECT_EQ(changes(), 3) << "and noted once";
  EXPECT_EQ(stamps(), "DV1=1 OTHER=2 ");
  EXPECT_EQ(Add(Memory(40, 0, 0, {3}), "DV2").added, 40);
  EXPECT_EQ(Add(Memory(40), "DV2").repaired, 1);
  EXPECT_EQ(stamps(), "DV1=1 DV2=5 OTHER=2 ");

  const std::vector<uint8_t> first = Memory(12), replacement = Memory(12, 5);
  DumpRemoval removal;
  std::string err;
  ASSERT_EQ(RemoveDump(ledger, "OTHER", Sha256Hex(first.data(), first.size()), &removal, &err), DumpRemoved) << err;
  EXPECT_EQ(changes(), 6);
  EXPECT_EQ(stamps(), "DV1=1 DV2=5 ");
  Add(replacement, "OTHER");
  EXPECT_EQ(stamps(), "DV1=1 DV2=5 OTHER=7 ");
}

// A ledger as version 1 of the program left it: the same tables without
// what version 2 added, the views summing with SQL.
void MakeVersion1(LedgerFile& ledger) {
  std::string sql =
      "DROP VIEW monthly_vat; DROP VIEW monthly_vat_total; DROP TABLE dump_report; DROP TABLE refused_dump; "
      "DROP TABLE month_total; DROP INDEX device_month_by_month; ALTER TABLE daily_report DROP COLUMN counted; "
      "ALTER TABLE dump DROP COLUMN repaired; DROP TABLE ledger_state; ALTER TABLE device DROP COLUMN changed;";
  for (const char* table : {"group", "tax"})
    for (int g = 1; g <= 8; ++g)
      sql += std::string(" ALTER TABLE device_month DROP COLUMN ") + table + "_" + std::to_string(g) + "_cents;";
  sql += std::string(kLedgerSchemaV1).substr(std::string(kLedgerSchemaV1).find("CREATE VIEW monthly_vat AS"));
  sql += "; PRAGMA user_version = 1;";
  std::string err;
  ASSERT_TRUE(ledger.db().Exec(sql.c_str(), &err)) << err;
}

// A ledger of version 1 opens, is brought to version 2 in place, and holds
// what it held; the dumps that held reports added before them are known to.
TEST_F(LedgerAdd, AVersion1LedgerIsUpgradedInPlaceWithNothingLost) {
  const std::vector<uint8_t> earlier = Memory(18), later = Memory(40);
  Add(Memory(12, 0, 5), "OTHER");
  Add(earlier, "DV1");
  Add(later, "DV1");
  const std::string before = WholeExport(ledger);
  MakeVersion1(ledger);
  ledger.db().Close();

  LedgerFile upgraded;
  std::string err;
  ASSERT_TRUE(upgraded.Open(dir.File("ledger.db"), LedgerReadOnly, &err)) << err;
  SqliteStatement version;
  ASSERT_TRUE(version.Prepare(upgraded.db(), "PRAGMA user_version", &err)) << err;
  bool done = false;
  ASSERT_TRUE(version.Step(&done, &err));
  EXPECT_EQ(version.Int(0), kLedgerSchemaVersion);
  EXPECT_EQ(WholeExport(upgraded), before);

  // The later read held the earlier one's reports: taking the earlier back keeps them.
  DumpRemoval removal;
  ASSERT_EQ(RemoveDump(upgraded, "DV1", Sha256Hex(earlier.data(), earlier.size()), &removal, &err), DumpRemoved)
      << err;
  EXPECT_EQ(removal.removed, 0);
  EXPECT_EQ(removal.kept, 18);
  EXPECT_EQ(WholeExport(upgraded), before);
}

TEST_F(LedgerAdd, AReportRunWithTheLedgerAddsTheWholeDumpBesideItAndAFailureCostsNotTheReport) {
  FakeUi ui;
  std::string err, dump = dir.File("DV7.bin");
  ASSERT_TRUE(WriteDumpFile(dump, Memory(12), &err)) << err;
  LedgerOutput output;
  ReportRequest request;
  request.dumpPath = dump;
  request.reportType = ReportByNumber;  // the ledger takes every report all the same
  request.fromText = "1";
  request.toText = "2";
  request.outputs = {&output};
  EXPECT_EQ(RunReportWithOutcome(request), ReportWritten);
  EXPECT_EQ(Sums("DV7").reports, 12);
  EXPECT_NE(ReadFileBytes(dir.File("ledger.html")).find("<td>DV7</td>"), std::string::npos);

  // Another register's memory under the same name: refused whole, said so.
  ASSERT_TRUE(WriteDumpFile(dump, Memory(12, 3), &err)) << err;
  ui.messages.clear();
  EXPECT_EQ(RunReportWithOutcome(request), ReportWriteFailed);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text.rfind("Cannot add " + dump + " to the ledger " + dir.File("ledger.db") +
                                          ": its reports numbered from 3 differ",
                                      0),
            0u)
      << ui.messages[0].text;
  EXPECT_EQ(Sums("DV7").reports, 12);

  ASSERT_TRUE(WriteFileBytes(dir.File("ledger.db"), "not a ledger"));
  ui.messages.clear();
  EXPECT_EQ(RunReportWithOutcome(request), ReportWriteFailed);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].caption, "Error");
  EXPECT_EQ(ui.messages[0].text.rfind("Cannot open the ledger " + dir.File("ledger.db") + ": not a ledger", 0), 0u);
  EXPECT_TRUE(FileExists(dump + ".txt"));
  EXPECT_EQ(ReadFileBytes(dir.File("ledger.db")), "not a ledger");
}

}  // namespace
