// libFuzzer target: the dump reader on images laid out from the input
// (dump_input.h), walked with each filter. The reader must neither crash nor
// read or write out of bounds, whatever the device (or a damaged file) left
// in the record area or in the decimal-mode area.
#include <cstdint>
#include <cstdlib>

#include "fm/zelvanm_kl_bul.h"
#include "fuzz/dump_input.h"
#include "fuzz/image_files.h"
#include "report/report_buffer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static ImageFiles files;
  const char* path = files.Write(DecodeDumpInput(data, size));
  if (!path) std::abort();  // no room in the temporary folder: nothing was tested
  for (int32_t type = 0; type <= 2; ++type) {
    ResetReportBuffer();
    CZELVANM_KL_BUL reader(path);
    reader.reportType = type;
    reader.fromValue = type == 2 ? 1262304000 : 1;
    reader.toValue = type == 2 ? 1600000000 : 5000;
    // The image is there, so the walk must count as a parse.
    if (reader.Parse() != 1) std::abort();
  }
  return 0;
}
