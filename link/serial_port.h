#pragma once
// The transfers the device protocol is built on, over the line to the
// device (device_line.h). Every timed read is bounded by readTimeout
// (run_state.h), in whole seconds of the calendar clock.
#include <cstdint>
#include <memory>
#include <string>

#include "link/device_line.h"

// Opens the port chosen or typed in the dialog at `baud` bits per second,
// 8N1, with the port time-outs: a local serial port (COM3, \\.\COM10,
// ttyUSB0...) or a serial device server on the network (tcp://HOST:PORT,
// rfc2217://HOST:PORT; line_address.h). Null when it cannot be opened; then
// *why, when given, says why for a network address and stays empty for a
// local port (whose only message is "Error opening serial port.").
// A network port is connected (the name's lookup and the connection within
// TcpLine::kConnectTimeoutMs), negotiated (RFC 2217) and then left to fall
// quiet (line_quiet.h); `stop` is asked all the while and ends the opening
// with *why "ADDRESS: stopped". A local port opens at once.
std::unique_ptr<DeviceLine> OpenComPort(const char* portName, uint32_t baud,
                                        std::string* why = nullptr, const StopCheck& stop = StopCheck());

// Clears the port's error state and drops whatever waits in the input queue.
// False when the port status could not be read (nothing is dropped then).
bool DropQueuedInput(DeviceLine& line);

// Drops queued input, then writes the bytes: 1 when all `length` were
// written, otherwise 0.
int PurgeAndWrite(DeviceLine& line, const void* bytes, int32_t length);

// Reads one line: up to LF, or up to CR and the one byte after it, or until
// readTimeout seconds have passed since the call. Gives the line's length
// without its line end. At most `capacity` bytes are stored: the line, then
// its line end as far as room is left, and no NUL. A longer line is still
// read to its end (or the time-out) and the rest is dropped, so the next read
// starts after it; the result is then `capacity`. Dispatches no messages.
int ReadLine(DeviceLine& line, char* buffer, int capacity);

// Reads up to `count` bytes into `buffer` (zero-filled first), with one UI
// message dispatched after every port read. Ends when `count` bytes are in,
// when a read brings nothing after STOP (cancelFlag), when a read fails, or
// at the first test after the clock's readTimeout-th change of second.
// Gives the number of bytes received.
int ReadBlock(DeviceLine& line, char* buffer, int count);

// True when the last ReadBlock ended on a failed port read: the line is gone
// (a device unplugged, a terminal hung up), which is not the same as silence.
bool ReadBlockFailed();
