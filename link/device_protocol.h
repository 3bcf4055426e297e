#pragma once
// The fiscal device's command protocol: identify, then dump.
//
// A command frame is the start byte 0xAA, an address (nothing for identify,
// the six device-id bytes for dump), the command byte, two checksum
// characters and 0x0A. The checksum X is the XOR of every byte from 0xAA
// through the command; it goes out as 0x30|(X>>4) and 0x30|(X&0x0F), so the
// nibbles 10 to 15 become ':' to '?', not hexadecimal letters.
//
// The identify reply is 0x0E, the six id bytes, the rest of a line and its
// line end; any other first byte is a bad receipt. The dump reply is the raw
// fiscal-memory image, ended only by the device falling silent; a first block
// of fewer than 20 bytes starting with 0x15 is a refusal.
#include <cstddef>
#include <cstdint>

#include "link/device_line.h"
#include "report/ui_services.h"

constexpr uint8_t kFrameStart = 0xAA;
constexpr uint8_t kFrameEnd = 0x0A;
constexpr uint8_t kIdentifyCommand = 0x3F;  // '?'
constexpr uint8_t kDumpCommand = 0x43;      // 'C'
constexpr uint8_t kReplyAccept = 0x0E;
constexpr uint8_t kReplyRefuse = 0x15;
constexpr int kDeviceIdSize = 6;
constexpr int kIdentifyFrameSize = 5;
constexpr int kDumpFrameSize = 11;

// The image area: an image keeps at most kDumpBufferSize - 1 bytes.
constexpr int32_t kDumpBufferSize = 2101248;
extern char dumpBuffer[kDumpBufferSize];

// Builds a frame into `frame` (room for addressSize + 5 bytes); gives its size.
int BuildFrame(const uint8_t* address, int addressSize, uint8_t command, uint8_t* frame);

// The progress bar position for `total` image bytes received:
// 100 - (2,097,337 - total) / 20,973, truncating, so 0 up to 37 bytes and
// 100 from 2,076,365 on.
int DumpProgress(int32_t total);

// Sends the identify frame and reads the reply into `reply` (capacity bytes,
// cleared first). Gives 1 when the reply starts with 0x0E: the line after it
// is at reply + 1 and *replyLength is 1 plus its length, so the device id is
// reply[1..6]. Otherwise 0, with the line read over the reply's start and
// *replyLength its length (0 when the device said nothing). readTimeout bounds
// each of the two reads. STOP (cancelFlag) while the device has said nothing
// yet ends the exchange at once: 0 with *replyLength 0.
int IdentifyDevice(DeviceLine& line, char* reply, int capacity, int* replyLength);

// What a dump transfer found besides its bytes.
struct DumpTransfer {
  // Bytes the line lost or damaged while the image came in: the image has
  // holes even though every block arrived.
  LineFaults faults;
  // The device sent more than a dump holds: the image was cut at the cap.
  bool capReached = false;
};

// Sends the dump frame for the six bytes at `deviceId` and receives the image
// into dumpBuffer in blocks of 256 bytes until a block comes back empty (on a
// line with an end-of-image silence, DeviceLine::ImageEndSilenceMs, the first
// empty block once the device has been silent that long), setting the
// progress bar (IDC_PROGRESS of `dialog`) and dispatching one UI
// message per block. Gives the number of image bytes, or 0 when the device
// refused, sent nothing, the line failed during the transfer, or STOP
// cleared busyFlag. Sets readTimeout to 1. The line's faults are read after
// every block and once more at the end, into *transfer when given.
int ReceiveDump(DeviceLine& line, UiWindow dialog, const char* deviceId,
                DumpTransfer* transfer = nullptr);
