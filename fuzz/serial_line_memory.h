#pragma once
// An in-memory line to the device (device_line.h), for the link fuzz
// target: the real port code and device protocol run over it unchanged.
//
// The device's side is a script of replies: each write from the host starts
// the next reply (the bytes of an earlier one still unread are gone). Reads
// give the reply's bytes at once; a read that finds none is a silent second,
// and the clock the linked code reads (time()) moves on by one second, so the
// port time-outs run out without any waiting. A reply may hold one silent
// second before a given offset, and may end with the line failing (a device
// unplugged) instead of silence.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "link/device_line.h"

struct LineReply {
  static constexpr size_t kNoSilence = static_cast<size_t>(-1);
  std::vector<uint8_t> bytes;
  size_t silenceBefore = kNoSilence;  // a silent second before this offset
  bool failsAfter = false;            // reads fail once the bytes are used up
};

// Loads the script. bytesPerRead: at most that many bytes per read (a slow
// line); 0 for as many as asked for.
void LoadMemoryLine(std::vector<LineReply> replies, size_t bytesPerRead);
// The line over the loaded script; null while another one is open (not
// shared, like a real port).
std::unique_ptr<DeviceLine> OpenMemoryLine();
const std::vector<LineReply>& MemoryLineReplies();
// True once a read found the line failing.
bool MemoryLineFailed();
// What the host wrote, one entry per write.
const std::vector<std::vector<uint8_t>>& MemoryLineWrites();
