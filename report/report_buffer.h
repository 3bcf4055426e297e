#pragma once
// The report buffer: one process-wide text that every report line is
// appended to. The parsing side only appends; the report run resets it at its
// start and writes it out whole at its end. Bytes are stored exactly as the
// formats produce them (Windows-1251, CR LF).
#include <cstddef>

#if defined(__GNUC__)
#define TAXOSCOPE_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define TAXOSCOPE_PRINTF(fmt, args)
#endif

// Appends the formatted text, printf rules. The text is taken up to its first
// zero byte. The buffer grows as needed: no chunk is ever dropped.
void ReportPrintf(const char* format, ...) TAXOSCOPE_PRINTF(1, 2);

// Empties the buffer (keeps its memory for the next report).
void ResetReportBuffer();

// The text collected since the last reset, and its length in bytes. The byte
// after the text is always a zero byte; it is not part of the length.
const char* ReportText();
size_t ReportLength();
