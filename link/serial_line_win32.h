#pragma once
// The Win32 serial line's settings, apart from the line itself, so that the
// tests under Wine can read back what a port was given.
#include <windows.h>

#include <cstdint>

// The line (SetWholeLine) and the port time-outs (500 ms between bytes,
// 1000 ms in all, writes 1000 ms). A port that refuses either keeps what it
// has.
void SetPortLineAndTimeouts(HANDLE port, uint32_t baud);

// The line settings over those the port reported: baud, 8N1, binary, and
// every setting that would hold back, drop or change a byte of the image
// cleared, whatever another program left on the port: no flow control
// either way (CTS, DSR, XON/XOFF), no DSR sensitivity, no NUL stripping, no
// error character. DTR and RTS control keep what the port had.
void SetWholeLine(DCB* dcb, uint32_t baud);
