#pragma once
// CRC-16 of a dump record: the reflected CCITT polynomial (0x8408), initial
// value 0xFFFF, no final XOR, one table step per byte.
#include <cstddef>
#include <cstdint>

uint16_t RecordCrc16(const uint8_t* bytes, size_t count);
