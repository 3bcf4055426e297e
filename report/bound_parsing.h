#pragma once
// Scanning of typed report bounds, with the C library's scanf rules made
// explicit so that every platform reads a bound the same way.
#include <cstdint>

// "%i": leading white space, an optional sign, then hexadecimal after 0x or
// 0X, octal after a leading 0, decimal otherwise; text after the number is
// ignored. The value is kept to its low 32 bits. False when no number starts
// the text.
bool ScanInteger(const char* text, int32_t* value);

// "%d/%d/%d": day, month and year. Gives how many of the three numbers were
// read (each "/" must follow its number directly).
int ScanDayMonthYear(const char* text, int32_t* day, int32_t* month, int32_t* year);
