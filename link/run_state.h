#pragma once
// State shared by the main dialog and the device link. Everything runs on the
// one user-interface thread; these are plain integers because the only
// "concurrency" is the dialog re-entering itself while a read pumps messages.
#include <cstdint>

// 1 while a read runs (button 1 then means STOP). Set by the Read handler,
// cleared after it, by STOP, by Close and after a failed identify.
extern int busyFlag;
// 1 once the user pressed STOP; cleared when an acquisition run starts.
extern int cancelFlag;
// 1 when the stop is an interrupt (Ctrl-C on the command line), which also
// cuts the identify exchange short. The dialog's STOP lets the identify's
// line read run out and then reports the silence. Cleared with cancelFlag.
extern int interruptFlag;
// Whole seconds that bound every timed read on the port; 5 at start.
extern int32_t readTimeout;

// The selectable line speeds, in the order of the speed list.
constexpr int kBaudCount = 5;
constexpr int32_t kBaudTable[kBaudCount] = {9600, 19200, 38400, 57600, 115200};

// One flag per COM port number, filled by ListComPorts.
extern uint8_t portPresent[256];
