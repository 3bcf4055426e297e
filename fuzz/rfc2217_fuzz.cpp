// libFuzzer target: the RFC 2217 line's negotiation and transfer on any
// bytes a device server may send. A connection in memory hands the input to
// the line as the server's words, in pieces; once they are used up the
// server has closed the connection. The line must open or refuse, read and
// write without crashing or waiting (the connection never keeps it waiting),
// give no more of the line's bytes than came, and say why when it fails.
//
//   byte 0   the size of the pieces the server's bytes come in (0: as many
//            as the line asks for)
//   byte 1   the speed asked for: an entry of the speed list (mod 5)
//   then     what the server says
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "link/rfc2217_line.h"
#include "link/run_state.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

// The server's side of the connection: its words come from the input; what
// the line sends is counted and dropped (a send after the server closed
// still goes, as on a real connection until its reset comes back).
class ServerWords : public NetConnection {
 public:
  ServerWords(const uint8_t* bytes, size_t size, size_t piece) : bytes_(bytes), size_(size), piece_(piece) {}

  int32_t Receive(void* buffer, int32_t count, int) override {
    if (at_ >= size_) return -1;
    size_t n = size_ - at_;
    if (n > static_cast<size_t>(count)) n = static_cast<size_t>(count);
    if (piece_ && n > piece_) n = piece_;
    std::memcpy(buffer, bytes_ + at_, n);
    at_ += n;
    return static_cast<int32_t>(n);
  }
  int32_t Send(const void*, int32_t count, int) override {
    sent_ += static_cast<size_t>(count);
    return count;
  }
  int32_t Pending() override {
    if (at_ >= size_) return 0;
    return static_cast<int32_t>(size_ - at_);
  }
  size_t used() const { return at_; }

 private:
  const uint8_t* bytes_;
  size_t size_;
  size_t piece_;
  size_t at_ = 0;
  size_t sent_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const size_t piece = data[0];
  const uint32_t baud = static_cast<uint32_t>(kBaudTable[data[1] % kBaudCount]);
  auto owned = std::make_unique<ServerWords>(data + 2, size - 2, piece);
  ServerWords* server = owned.get();

  std::string why;
  std::unique_ptr<Rfc2217Line> line = Rfc2217Line::Open(std::move(owned), baud, &why);
  if (!line) {
    Check(!why.empty());
    return 0;
  }
  Check(why.empty());

  // Everything the server says next, read as the device protocol reads it.
  size_t lineBytes = 0;
  char buffer[300];
  for (int reads = 0; reads < 100000; ++reads) {
    const int32_t waiting = line->InputWaiting();
    Check(waiting >= -1);
    const int32_t got = line->Read(buffer, static_cast<int32_t>(sizeof buffer));
    if (got < 0) break;
    Check(got <= static_cast<int32_t>(sizeof buffer));
    lineBytes += static_cast<size_t>(got);
    if (got == 0 && server->used() >= size - 2) break;
    const uint8_t frame[] = {0xAA, 0xFF, 0x3F, 0xFF, 0x0A};
    line->Write(frame, sizeof frame);
    line->TakeFaults();
  }
  Check(lineBytes <= size - 2);
  Check(line->ImageEndSilenceMs() > 0);
  return 0;
}
