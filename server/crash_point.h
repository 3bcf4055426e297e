#pragma once
// Named points between the steps of the server's work that must survive a
// kill (a withdrawal, an upload). The tests kill the process at one of them
// (TAXOSCOPE_CRASH_AT=NAME in its environment) and check what the next
// start makes of it; otherwise a point does nothing.
void CrashPoint(const char* name);
