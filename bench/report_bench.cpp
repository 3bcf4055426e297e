// The report run on a full fiscal memory, beside a baseline that only reads
// the same file and computes the record CRC over every byte. The goal is the
// report run within 4x of the baseline, and each export of the same dump
// (taxoscope-cli export: one walk, the export built and written) within 2x
// of the report run; the integrity check (taxoscope-cli check: one walk, the
// findings written) within 1.5x of the report run.
//
// The ledger against the same report run: adding a new full dump (6,001
// reports) within 3x, adding the same dump again within 2x, and the monthly
// VAT table (ledger summary, ledger export --months) over a ledger of 100
// full dumps of 100 devices (600,000 reports) within 10x.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "fm/crc16.h"
#include "check/dump_check.h"
#include "export/export_outputs.h"
#include "export/ledger_export.h"
#include "fm/zelvanm_kl_bul.h"
#include "ledger/ledger_add.h"
#include "ledger/ledger_query.h"
#include "report/report_buffer.h"
#include "report/report_run.h"
#include "sim/dump_builder.h"

namespace {

// Message boxes would stop a benchmark; these services swallow them.
class SilentUi : public NullUi {
 public:
  SilentUi() { SetUi(this); }
  ~SilentUi() override { SetUi(nullptr); }
};

std::string BenchFile(const char* name, const std::vector<uint8_t>& bytes) {
  std::string path = std::string("/tmp/taxoscope-bench-") + name;
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file) {
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
  }
  return path;
}

const std::string& FullDump() {
  static const std::string path = [] {
    GenerateOptions options;
    options.seed = 7;
    options.variant = 3;
    options.reports = 6500;  // as many as fit
    return BenchFile("full.bin", GenerateDump(options));
  }();
  return path;
}

const std::string& ErasedDump() {
  static const std::string path = BenchFile("erased.bin", std::vector<uint8_t>(2101247, 0xFF));
  return path;
}

void ReadAndCrc(benchmark::State& state, const std::string& path) {
  std::vector<uint8_t> bytes(4 << 20);
  for (auto _ : state) {
    FILE* file = std::fopen(path.c_str(), "rb");
    size_t size = std::fread(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
    benchmark::DoNotOptimize(RecordCrc16(bytes.data(), size));
    state.SetBytesProcessed(state.bytes_processed() + static_cast<int64_t>(size));
  }
}

void Walk(benchmark::State& state, const std::string& path) {
  for (auto _ : state) {
    ResetReportBuffer();
    CZELVANM_KL_BUL reader(path.c_str());
    reader.reportType = ReportAll;
    benchmark::DoNotOptimize(reader.Parse());
  }
  state.counters["report_bytes"] = static_cast<double>(ReportLength());
}

void WholeRun(benchmark::State& state, const std::string& path) {
  SilentUi ui;
  ReportRequest request;
  request.dumpPath = path;
  for (auto _ : state) benchmark::DoNotOptimize(RunReport(request));
}

// As taxoscope-cli export runs it: the walk feeds the export alone, which is
// then written as a file.
void Export(benchmark::State& state, ExportFormat format, bool months) {
  SilentUi ui;
  ReportRequest request;
  request.dumpPath = FullDump();
  std::unique_ptr<ExportOutput> output = MakeExport(format, months, false);
  for (auto _ : state) {
    output->Begin(request);
    WalkDump(request, *output);
    benchmark::DoNotOptimize(output->Write(request.dumpPath));
  }
  state.counters["export_bytes"] = static_cast<double>(output->Text().size());
}

// As taxoscope-cli check --out runs it: the walk feeds the check alone, whose
// findings are then written as a file.
void Check(benchmark::State& state, const std::string& path) {
  SilentUi ui;
  ReportRequest request;
  request.dumpPath = path;
  const std::string out = path + ".check.txt";
  size_t findings = 0;
  for (auto _ : state) {
    DumpCheck check;
    WalkDump(request, check);
    std::string text = FindingsText(check.Findings());
    benchmark::DoNotOptimize(WriteBufferToFile(out.c_str(), text.data(), static_cast<int64_t>(text.size())));
    findings = check.Findings().size();
  }
  state.counters["findings"] = static_cast<double>(findings);
}

// A ledger file opened for adding, as `ledger add` opens it.
bool OpenLedger(const std::string& path, LedgerFile* ledger) {
  std::string err;
  if (ledger->Open(path, LedgerReadWrite, &err)) return true;
  std::fprintf(stderr, "%s: %s\n", path.c_str(), err.c_str());
  return false;
}

void AddFullDump(benchmark::State& state, LedgerFile& ledger, const std::string& device = "DV000001") {
  DumpAddition added;
  std::string err;
  if (AddDumpFile(ledger, FullDump(), device, "2024-01-01T00:00:00Z", &added, &err) != DumpAdded)
    state.SkipWithError(err.c_str());
  state.counters["new"] = static_cast<double>(added.added);
}

// Each time the dump of a device the ledger does not know yet.
void BM_LedgerAddNew_Full(benchmark::State& state) {
  const std::string path = "/tmp/taxoscope-bench-add.db";
  std::remove(path.c_str());
  int device = 0;
  for (auto _ : state) {
    LedgerFile ledger;
    if (!OpenLedger(path, &ledger)) return state.SkipWithError("ledger");
    AddFullDump(state, ledger, "DV" + std::to_string(++device));
  }
}

void BM_LedgerAddAgain_Full(benchmark::State& state) {
  const std::string path = "/tmp/taxoscope-bench-again.db";
  std::remove(path.c_str());
  {
    LedgerFile ledger;
    if (!OpenLedger(path, &ledger)) return state.SkipWithError("ledger");
    AddFullDump(state, ledger);
  }
  for (auto _ : state) {
    LedgerFile ledger;
    if (!OpenLedger(path, &ledger)) return state.SkipWithError("ledger");
    AddFullDump(state, ledger);
  }
}

// 100 devices, each with a full dump of its own (600,000 reports or so),
// made once per process.
const std::string& HundredDeviceLedger() {
  static const std::string path = [] {
    const std::string ledgerPath = "/tmp/taxoscope-bench-100.db";
    std::remove(ledgerPath.c_str());
    LedgerFile ledger;
    if (!OpenLedger(ledgerPath, &ledger)) return ledgerPath;
    for (uint32_t device = 1; device <= 100; ++device) {
      GenerateOptions options;
      options.seed = 1000 + device;
      options.reports = 6500;
      std::string dump = BenchFile("device.bin", GenerateDump(options)), err;
      DumpAddition added;
      AddDumpFile(ledger, dump, "DV" + std::to_string(100000 + device), "2024-01-01T00:00:00Z", &added, &err);
    }
    return ledgerPath;
  }();
  return path;
}

// As `ledger summary` and `ledger export --months` run: open, select every
// device, the sums, the text.
template <typename Write>
void LedgerMonths(benchmark::State& state, const Write& write) {
  const std::string& path = HundredDeviceLedger();
  for (auto _ : state) {
    LedgerFile ledger;
    std::string err;
    ResolvedSelection selection;
    LedgerSelectionSums sums;
    if (!ledger.Open(path, LedgerReadOnly, &err) ||
        ResolveSelection(ledger, LedgerSelection(), &selection, &err) != SelectionOk ||
        !QuerySums(ledger, selection, &sums, &err))
      return state.SkipWithError(err.c_str());
    benchmark::DoNotOptimize(write(sums));
    state.counters["reports"] = static_cast<double>(sums.reports);
  }
}

void BM_LedgerSummary_100Devices(benchmark::State& state) {
  LedgerMonths(state, [](const LedgerSelectionSums& sums) { return LedgerSummaryText(sums); });
}

void BM_LedgerExportMonths_100Devices(benchmark::State& state) {
  LedgerMonths(state, [](const LedgerSelectionSums& sums) {
    std::string text = LedgerMonthsCsv(sums, false, kPlainCsv);
    return WriteBufferToFile("/tmp/taxoscope-bench-months.csv", text.data(), static_cast<int64_t>(text.size()));
  });
}

void BM_Baseline_ReadAndCrc_Full(benchmark::State& state) { ReadAndCrc(state, FullDump()); }
void BM_Walk_Full(benchmark::State& state) { Walk(state, FullDump()); }
void BM_RunReport_Full(benchmark::State& state) { WholeRun(state, FullDump()); }
void BM_ExportCsv_Full(benchmark::State& state) { Export(state, ExportCsv, false); }
void BM_ExportMonthsCsv_Full(benchmark::State& state) { Export(state, ExportCsv, true); }
void BM_ExportJson_Full(benchmark::State& state) { Export(state, ExportJson, false); }
void BM_ExportHtml_Full(benchmark::State& state) { Export(state, ExportHtml, false); }
void BM_Check_Full(benchmark::State& state) { Check(state, FullDump()); }
void BM_Baseline_ReadAndCrc_Erased(benchmark::State& state) { ReadAndCrc(state, ErasedDump()); }
void BM_Walk_Erased(benchmark::State& state) { Walk(state, ErasedDump()); }
void BM_RunReport_Erased(benchmark::State& state) { WholeRun(state, ErasedDump()); }

BENCHMARK(BM_Baseline_ReadAndCrc_Full)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Walk_Full)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RunReport_Full)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExportCsv_Full)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExportMonthsCsv_Full)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExportJson_Full)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExportHtml_Full)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Check_Full)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LedgerAddNew_Full)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LedgerAddAgain_Full)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LedgerSummary_100Devices)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LedgerExportMonths_100Devices)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Baseline_ReadAndCrc_Erased)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Walk_Erased)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RunReport_Erased)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
