#pragma once
// The Win32 serial line's settings, apart from the line itself, so that the
// tests under Wine can read back what a port was given.
#include <windows.h>

#include <cstdint>

// The line (baud, 8N1, binary, no XON/XOFF on output; every other DCB field
// as the port had it) and the port time-outs (500 ms between bytes, 1000 ms
// in all, writes 1000 ms). A port that refuses either keeps what it has.
void SetPortLineAndTimeouts(HANDLE port, uint32_t baud);
