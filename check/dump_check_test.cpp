// The dump check on built dumps, through the real reader: one dump per kind
// of finding, and what a sound or erased dump gives.
#include "check/dump_check.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "fm/dump_image.h"

#include "fm/walk_test_support.h"

namespace {

// The findings of an unfiltered walk of the dump, in their text form.
std::string Check(const DumpBuilder& dump) {
  TempDir dir;
  std::string path = WriteDump(dir, dump);
  DumpCheck check;
  CZELVANM_KL_BUL reader(path.c_str());
  reader.sink = &check;
  EXPECT_EQ(reader.Parse(), 1);
  return FindingsText(check.Findings());
}

std::string At(size_t offset) { return " @" + std::to_string(offset); }

ReportData Report(uint16_t number, int day = 11) {
  ReportData report;
  report.number = number;
  report.dateTime = PackDateTime(12, 5, day, 20, 0);
  report.groups[0] = 1000;
  return report;
}

const uint16_t kRates[8] = {2000, 900, 0, kRateUnset, kRateUnset, kRateUnset, kRateUnset, kRateUnset};

TEST(DumpCheck, SoundAndErasedDumpsHaveNoFindings) {
  DumpBuilder sound;
  sound.Erased(16).ModelRecord().ModeAndRates(kModeFractional, kRates).Report(Report(1)).Report(Report(2, 12));
  EXPECT_EQ(Check(sound), "0 errors, 0 warnings, 0 notes\n");
  EXPECT_EQ(Check(DumpBuilder().Erased(kDumpImageSize)), "0 errors, 0 warnings, 0 notes\n");
}

TEST(DumpCheck, DamageAndDecimalFlag) {
  DumpBuilder dump;
  dump.Erased(16).Filler(5).CorruptLastCrc();
  size_t filler = dump.lastRecordOffset();
  ReportData odd = Report(2);
  odd.decimalFlag = 0x12;
  dump.Report(Report(1)).CorruptLastCrc();
  size_t damaged = dump.lastRecordOffset();
  dump.Report(odd);
  EXPECT_EQ(Check(dump), "error crc" + At(filler) + ": CRC mismatch in a type 5 record\n"
                         "error crc" + At(damaged) + " report 1 (2012-05-11 20:00): CRC mismatch in a daily report\n"
                         "error decimal-flag" + At(dump.lastRecordOffset()) +
                             " report 2 (2012-05-11 20:00): decimal flag 0x12, neither 0xAA nor 0x55\n"
                         "3 errors, 0 warnings, 0 notes\n");
}

TEST(DumpCheck, SequenceOfDailyReports) {
  DumpBuilder dump;
  dump.Erased(16).Report(Report(1));
  dump.Report(Report(3, 12));  // 2 is missing
  size_t gap = dump.lastRecordOffset();
  dump.Report(Report(3, 12));  // the same number, the same date
  size_t repeat = dump.lastRecordOffset();
  dump.Report(Report(4, 10));  // the clock set back
  EXPECT_EQ(Check(dump),
            "warning gap" + At(gap) + " report 3 (2012-05-12 20:00): missing 2, after report 1 (2012-05-11 20:00)\n"
            "warning number-back" + At(repeat) +
                " report 3 (2012-05-12 20:00): the number again, after report 3 (2012-05-12 20:00)\n"
            "warning clock-back" + At(dump.lastRecordOffset()) +
                " report 4 (2012-05-10 20:00): earlier than report 3 (2012-05-12 20:00)\n"
            "0 errors, 3 warnings, 0 notes\n");
}

TEST(DumpCheck, UnknownRecordsAndRecordsCutShort) {
  DumpBuilder dump;
  dump.Erased(16).Filler(5).Filler(14);
  std::string unknown = "warning unknown-record" + At(dump.lastRecordOffset()) +
                        ": type 14, framed with the length of the record before (11 bytes)\n";
  // The end within a look-ahead, and the end after it.
  DumpBuilder shortTail = dump;
  shortTail.Erased(3).Bytes({4, 1, 2});
  EXPECT_EQ(Check(shortTail), unknown + "warning cut-short" + At(dump.size() + 3) +
                                  ": the dump ends inside a type 4 record of 334 bytes, after 3\n"
                                  "0 errors, 2 warnings, 0 notes\n");
  std::vector<uint8_t> cut(21, 0);
  cut[0] = 6;
  dump.Bytes(cut);
  EXPECT_EQ(Check(dump), unknown + "warning cut-short" + At(dump.size() - 21) +
                             ": the dump ends inside a type 6 record of 25 bytes, after 21\n"
                             "0 errors, 2 warnings, 0 notes\n");
}

TEST(DumpCheck, RateChangesAndTheDecimalModeArea) {
  const uint16_t next[8] = {2000, 2000, kRateUnset, kRateUnset, kRateUnset, kRateUnset, kRateUnset, 700};
  DumpBuilder dump;
  dump.Erased(16).ModelRecord("ZA02").ModeAndRates(kModeFractional, kRates);  // first rates: no change
  dump.Rates(next);
  size_t rates = dump.lastRecordOffset();
  dump.PadTo(kDecimalAreaVariant2).DecimalMode(1, kModeWhole).DecimalMode(50, 0x33);
  dump.DecimalMode(90, kModeFractional).CorruptLastCrc();
  size_t bad = dump.lastRecordOffset();
  dump.PadTo(kVariant2ImageSize);
  EXPECT_EQ(Check(dump),
            "info rate-change" + At(rates) + ": group 2 9.00% -> 20.00%\n"
            "info decimal-mode" + At(kDecimalAreaVariant2) + ": from report 1 amounts are whole numbers\n"
            "info decimal-mode" + At(kDecimalAreaVariant2 + 11) +
                ": from report 50 amounts are whole numbers (mode byte 0x33 is neither 0xAA nor 0x55: the mode "
                "before stays)\n"
            "error mode-area-crc" + At(bad) +
                ": CRC mismatch in a type 7 record of the decimal-mode area; the decimal-mode scan stops here\n"
            "error crc" + At(bad) + ": CRC mismatch in a type 7 record\n"
            "2 errors, 0 warnings, 3 notes\n");
}

// Walks bytes in memory with the consumer.
void WalkBytes(const std::vector<uint8_t>& bytes, ReportSink* sink) {
  CZELVANM_KL_BUL reader(new CInputMemory(bytes.data(), static_cast<int64_t>(bytes.size())));
  reader.sink = sink;
  reader.Parse();
}

// The findings written as they come over two walks (the first for the
// decimal-mode area, the second in dump order) against the findings kept and
// sorted at the end: the same text. Gives whether the findings were made out
// of dump order (so that the order had to be mended).
bool ExpectTwoWalksInDumpOrder(const std::vector<uint8_t>& bytes) {
  DumpCheck kept;
  WalkBytes(bytes, &kept);
  FindingList asMade;
  DumpCheck raw(&asMade);
  WalkBytes(bytes, &raw);
  ModeAreaFindings area;
  DumpCheck first(&area);
  WalkBytes(bytes, &first);
  std::string streamed;
  FindingsWriter writer = FindingsWriter::Text([&streamed](const std::string& piece) { streamed += piece; });
  DumpOrder order(std::move(area), &writer);
  DumpCheck second(&order);
  WalkBytes(bytes, &second);
  order.Finish();
  writer.Finish();
  EXPECT_EQ(streamed, FindingsText(kept.Findings()));
  return FindingsText(asMade.findings) != streamed;
}

// The decimal-mode area met early (its model record first), late (a model
// record only after the walk has passed the area), both, and random bytes
// all over: findings in dump order every time.
TEST(DumpCheck, FindingsWrittenAsTheyComeAreInDumpOrder) {
  DumpBuilder early;
  early.Erased(16).ModelRecord().ModeAndRates(kModeFractional, kRates).Report(Report(1)).Report(Report(4, 12));
  early.PadTo(kDecimalAreaVariant3).DecimalMode(1, kModeWhole).DecimalMode(3, kModeFractional).CorruptLastCrc();
  early.Report(Report(5, 13)).CorruptLastCrc().PadTo(kDumpImageSize);
  EXPECT_TRUE(ExpectTwoWalksInDumpOrder(early.bytes()));

  DumpBuilder late;
  late.Erased(16).Report(Report(1)).CorruptLastCrc().Report(Report(3, 9));
  late.PadTo(kDecimalAreaVariant3).DecimalMode(1, kModeWhole).CorruptLastCrc().Filler(14);
  late.Erased(100).ModelRecord().Report(Report(7, 13)).ModelRecord("ZA02").PadTo(kDumpImageSize);
  EXPECT_TRUE(ExpectTwoWalksInDumpOrder(late.bytes()));

  uint32_t state = 5;
  auto next = [&state]() { return static_cast<uint8_t>((state = state * 1103515245u + 12345u) >> 24); };
  std::vector<uint8_t> random(kDumpImageSize);
  for (uint8_t& byte : random) byte = next();
  ExpectTwoWalksInDumpOrder(random);
  // Random bytes over a real dump, and a real dump's records over random area bytes.
  std::vector<uint8_t> mixed = late.bytes();
  for (size_t i = 0; i < mixed.size(); i += 997) mixed[i] = next();
  ExpectTwoWalksInDumpOrder(mixed);
  std::vector<uint8_t> tail = early.bytes();
  for (size_t i = kDecimalAreaVariant3 + 40; i < tail.size(); ++i) tail[i] = next() | 0x01;
  ExpectTwoWalksInDumpOrder(tail);
}

}  // namespace
