#pragma once
// A dump's bytes held in memory: read once, from a file, a pipe, a FIFO or a
// character device alike, then walked, hashed and stored from those same
// bytes. A stream cannot be read twice, and a file may change between reads.
#include <cstdint>
#include <string>
#include <vector>

#include "fm/input_file.h"

// No read stores a longer image: the device's image area holds one byte more,
// which a read never fills.
constexpr int64_t kDumpImageCap = 2101247;

using DumpBytes = std::vector<uint8_t>;

enum DumpLoadResult {
  DumpLoaded,       // *bytes holds the whole file or stream
  DumpOpenFailed,   // *error holds the errno of the failure
  DumpOverCap,      // longer than kDumpImageCap; *bytes holds its first kDumpImageCap + 1 bytes
};

// Reads the whole file or stream at path, at most kDumpImageCap + 1 bytes of
// it, so that a longer input (a 50 MB file, an endless pipe) costs no more.
DumpLoadResult LoadDumpImage(const std::string& path, DumpBytes* bytes, int* error);

// The dump source over bytes in memory; the bytes must outlive it.
class CInputMemory : public CInputFileBase {
 public:
  CInputMemory(const uint8_t* bytes, int64_t size) : bytes_(bytes), size_(size) {}

  uint8_t* Read(uint8_t* buffer, int32_t count) override;
  int32_t GetPosition() override { return Tell(); }
  int32_t Seek(int32_t offset) override;
  int32_t Tell() override { return static_cast<int32_t>(position_); }
  bool IsOpen() const override { return true; }

 private:
  const uint8_t* bytes_;
  int64_t size_;
  int64_t position_ = 0;
};
