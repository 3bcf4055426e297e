#pragma once
// Before the program asks the device anything over a network line, it lets
// the device server have its say and waits for quiet. What comes meanwhile
// is dropped, but first looked at:
//   - a raw port whose first bytes are a Telnet negotiation (IAC followed by
//     WILL, WONT, DO or DONT) speaks Telnet: read as raw, its negotiation
//     would be taken for the device's bytes and every 0xFF of the image would
//     arrive doubled, so such a port is refused and named;
//   - a server that closes the connection at once, or says a line of text
//     and closes it ("Port already in use"), refused the connection;
//   - anything else is what a device still sends from a read that was
//     stopped, still on its way through the server: dropped, so that the
//     identify's answer is not taken from the middle of an old image.
// The wait ends after kQuietMs without a byte. A device that is still
// sending after kQuietLimitMs (a long image of a read stopped a moment ago)
// is not asked anything: its answer would be lost among the image's bytes,
// so the opening fails with words that say so.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "link/device_line.h"

constexpr int kQuietMs = 500;
constexpr int kQuietLimitMs = 10000;

// Receives up to `count` bytes within waitMs: their number, 0 when none
// came, -1 when the connection closed or failed.
using QuietReceive = std::function<int32_t(uint8_t* buffer, int32_t count, int waitMs)>;

// Waits for quiet as above. raw: the connection's bytes are the line's (a
// tcp:// port), so Telnet on it is the wrong kind of port. True once quiet;
// false with *why saying why not (the stop text when `stop` said so).
bool AwaitQuiet(const QuietReceive& receive, bool raw, const StopCheck& stop, std::string* why);

// Why a connection the device server closed before the device was asked
// anything came to an end, given what the server said first.
std::string ClosedByServer(const std::vector<uint8_t>& said);
