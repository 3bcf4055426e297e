#pragma once
// The nightly window in which the server reads its registers: HH:MM-HH:MM in
// the server's local time. A window whose end is not after its start runs
// over midnight (22:30-05:00). On the nights the clocks change, its ends
// follow the clock on the wall, so the window is an hour longer or shorter.
#include <cstdint>
#include <string>

struct CollectWindow {
  int startMinute = 0;  // after local midnight, 0..1439
  int endMinute = 0;    // likewise; never equal to startMinute
};

// "HH:MM-HH:MM", 00:00 to 23:59 each, start and end different. False with
// the problem for anything else.
bool ParseCollectWindow(const std::string& text, CollectWindow* window, std::string* problem);
std::string CollectWindowText(const CollectWindow& window);

// One opening of the window, in milliseconds since 1970 UTC: [startMs, endMs).
struct WindowSpan {
  int64_t startMs = 0;
  int64_t endMs = 0;
  bool Contains(int64_t ms) const { return ms >= startMs && ms < endMs; }
};

// The opening that contains nowMs, or else the next one.
WindowSpan CurrentOrNextWindow(const CollectWindow& window, int64_t nowMs);
