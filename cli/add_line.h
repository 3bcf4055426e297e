#pragma once
// What `ledger add` and `send` say of one dump's add: the same lines whether
// the ledger is on this machine or behind a server.
#include <cstdint>
#include <string>
#include <vector>

// "DUMP: device ID, N new, M already in the ledger, R repaired, C conflicts\n"
std::string AddLine(const std::string& dump, const std::string& device, int64_t added, int64_t already,
                    int64_t repaired, size_t conflicts);

// On stderr: a report whose CRC failed, of one the ledger holds intact.
void SayDamagedCopy(const std::string& dump, int32_t number, const std::string& recordedAt);

// On stderr: the dump disagrees with the ledger and was refused whole; the
// first of its disagreeing report numbers are named.
void SayRefused(const std::string& dump, const std::vector<int32_t>& numbers, const std::string& device);
