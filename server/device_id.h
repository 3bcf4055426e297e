#pragma once
// The device ids the server takes, wherever one enters (an upload's
// ?device= or file name, `token add --device`): text that a person reads on
// a page and in a log, and that no other id can pose as. So an id is UTF-8
// (bytes that are no UTF-8 would all read as U+FFFD, and %FF%FE and %FE%FF
// would become one register), without control characters, and without the
// invisible characters that reorder text or hide in it (the bidirectional
// controls U+202A-202E and U+2066-2069, the zero-width characters
// U+200B-200F, and their kin).
#include <cstddef>
#include <string>

// The longest device id, in bytes.
constexpr size_t kDeviceIdMaxBytes = 64;

// True for an id the server takes; else false with the reason, worded for
// the one who sent it.
bool CheckDeviceId(const std::string& id, std::string* why);
