#pragma once
// The dump source: positioned, all-or-nothing byte access to a dump file.
// It knows nothing of records; the readers frame them.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

class CInputFileBase {
 public:
  virtual ~CInputFileBase() = default;
  // Reads count bytes at the current position into buffer. Gives buffer
  // when all count bytes were read, null otherwise (the bytes that were there
  // are in buffer and the position is at the end of the file).
  virtual uint8_t* Read(uint8_t* buffer, int32_t count) = 0;
  // Same as Tell.
  virtual int32_t GetPosition() = 0;
  // Absolute positioning: gives offset when set, 0 when not.
  virtual int32_t Seek(int32_t offset) = 0;
  // The current position; 0 without a file, -1 when the stream cannot tell.
  virtual int32_t Tell() = 0;
  // Whether the source has its file; without one every Read gives null.
  virtual bool IsOpen() const = 0;
};

class CInputMemory;

class CInputFileBin : public CInputFileBase {
 public:
  // Never fails: a file that cannot be opened gives a source without a file.
  // A pipe, a FIFO or a device cannot seek back: its stream is read whole
  // first (a stream longer than any dump gives a source without a file, with
  // EFBIG), and the walk reads the bytes held.
  explicit CInputFileBin(const char* path);
  ~CInputFileBin() override;
  CInputFileBin(const CInputFileBin&) = delete;
  CInputFileBin& operator=(const CInputFileBin&) = delete;

  uint8_t* Read(uint8_t* buffer, int32_t count) override;
  int32_t GetPosition() override;
  int32_t Seek(int32_t offset) override;
  int32_t Tell() override;

  bool IsOpen() const override { return file != nullptr || held != nullptr; }
  // The errno of a failed open (0 when the file is open).
  int OpenError() const { return openError; }

 private:
  FILE* file = nullptr;
  int openError = 0;
  std::vector<uint8_t> heldBytes;       // a stream's bytes
  std::unique_ptr<CInputMemory> held;   // reads them
};
