#include "fm/image_cut.h"

#include <cstring>
#include <vector>

#include "fm/zelvanm_kl_bul.h"

namespace {

// What one walk of an image found: the record its end cuts, and every
// record whose CRC held (the decimal-mode area's included).
class FrameCollector : public ReportSink {
 public:
  void OnFrame(const RecordFrame& frame) override {
    if (frame.crcOk) intact.push_back(frame);
  }
  void OnModeAreaRecord(const ModeAreaRecord& area) override {
    if (area.frame.crcOk) intact.push_back(area.frame);
  }
  void OnCutShort(const RecordFrame& frame, int64_t bytesPresent) override {
    cutShort = true;
    cut = frame;
    present = bytesPresent;
  }

  std::vector<RecordFrame> intact;
  bool cutShort = false;
  RecordFrame cut;
  int64_t present = 0;
};

FrameCollector Walk(const uint8_t* bytes, int64_t size) {
  FrameCollector collector;
  CZELVANM_KL_BUL reader(new CInputMemory(bytes, size));
  reader.sink = &collector;
  reader.Parse();
  return collector;
}

}  // namespace

ImageCutFinding FindImageEndCut(const uint8_t* image, int64_t size, bool capReached) {
  ImageCutFinding finding;
  finding.size = size;
  if (capReached) return finding;
  FrameCollector walked = Walk(image, size);
  if (walked.cutShort) {
    finding.cut = ImageCut::EndsInsideRecord;
    finding.record = walked.cut;
    finding.present = walked.present;
  }
  return finding;
}

ImageCutFinding FindCutAgainstStored(const uint8_t* image, int64_t size, const uint8_t* stored,
                                     int64_t storedSize) {
  ImageCutFinding finding;
  finding.size = size;
  finding.storedSize = storedSize;
  if (size < storedSize) {
    finding.cut = ImageCut::ShorterThanStored;
    return finding;
  }
  // A record a damaged copy holds with a bad CRC is no evidence: only the
  // intact ones must be there, byte for byte where they were.
  for (const RecordFrame& frame : Walk(stored, storedSize).intact) {
    const bool there = frame.offset >= 0 && frame.length > 0 && frame.offset + frame.length <= size &&
                       std::memcmp(image + frame.offset, stored + frame.offset,
                                   static_cast<size_t>(frame.length)) == 0;
    if (!there) {
      finding.cut = ImageCut::LacksStoredRecord;
      finding.record = frame;
      return finding;
    }
  }
  return finding;
}

ImageCutFinding FindImageCut(const uint8_t* image, int64_t size, bool capReached,
                             const DumpBytes* stored) {
  ImageCutFinding finding = FindImageEndCut(image, size, capReached);
  if (finding.cutShort() || !stored) {
    if (stored) finding.storedSize = static_cast<int64_t>(stored->size());
    return finding;
  }
  return FindCutAgainstStored(image, size, stored->data(), static_cast<int64_t>(stored->size()));
}

std::string DescribeImageCut(const ImageCutFinding& finding) {
  const std::string type = std::to_string(finding.record.type);
  const std::string at = std::to_string(finding.record.offset);
  switch (finding.cut) {
    case ImageCut::None:
      return std::string();
    case ImageCut::EndsInsideRecord:
      return "it ends inside a record (type " + type + " at byte " + at + " needs " +
             std::to_string(finding.record.length) + " bytes, " + std::to_string(finding.present) +
             " came)";
    case ImageCut::ShorterThanStored:
      return "it is shorter (" + std::to_string(finding.size) +
             " bytes) than the dump already stored for this device (" +
             std::to_string(finding.storedSize) + " bytes), and a fiscal memory only grows";
    case ImageCut::LacksStoredRecord:
      return "it lacks the record at byte " + at + " (type " + type +
             ") that the dump already stored for this device holds, and a fiscal memory only grows";
  }
  return std::string();
}
