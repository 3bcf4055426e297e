#include "fm/dump_family.h"

#include <algorithm>
#include <memory>

#include "fm/zelvanm_kl_bul.h"

std::string NotADumpReason(const DumpBytes& bytes, bool overCap, const DumpFamilyCheck& walked) {
  if (overCap) return "longer than " + std::to_string(kDumpImageCap) + " bytes";
  if (walked.SawIntactRecord()) return std::string();
  if (bytes.empty()) return "empty";
  if (std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0xFF; }))
    return "erased memory only";
  return "no record with a valid CRC";
}

std::string NotADumpReason(const DumpBytes& bytes, bool overCap) {
  if (overCap) return NotADumpReason(bytes, overCap, DumpFamilyCheck());
  DumpFamilyCheck check;
  CZELVANM_KL_BUL reader(new CInputMemory(bytes.data(), static_cast<int64_t>(bytes.size())));
  reader.sink = &check;
  reader.Parse();
  return NotADumpReason(bytes, overCap, check);
}

std::string NotADumpMessage(const std::string& name, const std::string& reason) {
  return name + ": not a dump of this device family (" + reason + ")";
}
