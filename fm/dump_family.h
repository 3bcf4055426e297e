#pragma once
// Whether some bytes are a dump of this device family at all. No read stores
// more than kDumpImageCap bytes, and every fiscal memory that holds anything
// holds records whose CRC holds; an empty file, erased memory, random bytes or
// another device's image hold none. Such a file is refused by the commands
// that keep or summarise a dump, while the report walks any file.
#include <string>

#include "fm/daily_report.h"
#include "fm/dump_image.h"

// A consumer of the walk that notes whether any record's CRC held.
class DumpFamilyCheck : public ReportSink {
 public:
  void OnFrame(const RecordFrame& frame) override { intact_ = intact_ || frame.crcOk; }
  void OnModeAreaRecord(const ModeAreaRecord& record) override { intact_ = intact_ || record.frame.crcOk; }
  bool SawIntactRecord() const { return intact_; }

 private:
  bool intact_ = false;
};

// Why bytes that the check walked are no dump of this family, or "" when
// they are one. overCap: the input was longer than kDumpImageCap.
std::string NotADumpReason(const DumpBytes& bytes, bool overCap, const DumpFamilyCheck& walked);

// The same for bytes not walked yet: walks them.
std::string NotADumpReason(const DumpBytes& bytes, bool overCap);

// "NAME: not a dump of this device family (REASON)"
std::string NotADumpMessage(const std::string& name, const std::string& reason);
