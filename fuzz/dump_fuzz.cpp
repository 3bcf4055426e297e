// libFuzzer target: any byte string as a dump file, walked with each filter.
// The reader must neither crash nor read or write out of bounds, whatever
// the device (or a damaged file) left in it.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "fm/zelvanm_kl_bul.h"
#include "report/report_buffer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = "/tmp/taxoscope-fuzz-" + std::to_string(getpid()) + ".bin";
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return 0;
  std::fwrite(data, 1, size, file);
  std::fclose(file);
  for (int32_t type = 0; type <= 2; ++type) {
    ResetReportBuffer();
    CZELVANM_KL_BUL reader(path.c_str());
    reader.reportType = type;
    reader.fromValue = type == 2 ? 1262304000 : 1;
    reader.toValue = type == 2 ? 1600000000 : 5000;
    reader.Parse();
  }
  return 0;
}
