#include "report/report_buffer.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

// A whole fiscal memory of daily reports makes well over a megabyte of text;
// start there and grow geometrically, so appending stays allocation-free in
// the common case.
constexpr size_t kInitialCapacity = 1 << 20;
// The longest chunk one append may produce, as the formats of the report
// never come near it; the slow path formats into an area of this size.
constexpr size_t kFormatArea = 100000;

struct Buffer {
  std::vector<char> bytes = std::vector<char>(kInitialCapacity, 0);
  size_t length = 0;

  // Room for `extra` more bytes plus the terminator.
  char* Reserve(size_t extra) {
    size_t needed = length + extra + 1;
    if (needed > bytes.size()) {
      size_t capacity = bytes.size();
      while (capacity < needed) capacity *= 2;
      bytes.resize(capacity);
    }
    return bytes.data() + length;
  }
  void Append(const char* text, size_t count) {
    char* at = Reserve(count);
    std::memcpy(at, text, count);
    length += count;
  }
  void Fill(char c, size_t count) {
    std::memset(Reserve(count), c, count);
    length += count;
  }
  void Terminate() { Reserve(0)[0] = 0; }
};

Buffer& TheBuffer() {
  static Buffer buffer;
  return buffer;
}

void AppendPadded(Buffer& buffer, const char* text, size_t count, int width, bool leftAlign) {
  size_t pad = width > 0 && static_cast<size_t>(width) > count ? width - count : 0;
  if (!leftAlign) buffer.Fill(' ', pad);
  buffer.Append(text, count);
  if (leftAlign) buffer.Fill(' ', pad);
}

// The general path: the C library's formatter into the format area.
void AppendFormatted(Buffer& buffer, const char* format, va_list args) {
  static char area[kFormatArea];
  int written = std::vsnprintf(area, sizeof area, format, args);
  if (written < 0) return;
  buffer.Append(area, std::strlen(area));
}

// The report's own formats use only %s, %i, %d and %u with an optional width
// and '-' flag; these are formatted here directly, which keeps a full memory's
// report cheap. Anything else goes to the C library. Gives false (having
// appended nothing) when the format needs the general path.
bool AppendSimple(Buffer& buffer, const char* format, va_list args) {
  for (const char* p = format; *p; ++p) {
    if (*p != '%') continue;
    const char* q = p + 1;
    if (*q == '%') { p = q; continue; }
    if (*q == '-') ++q;
    while (*q >= '0' && *q <= '9') ++q;
    if (*q != 's' && *q != 'i' && *q != 'd' && *q != 'u') return false;
    p = q;
  }

  size_t start = buffer.length;
  for (const char* p = format; *p;) {
    const char* literal = p;
    while (*p && *p != '%') ++p;
    buffer.Append(literal, static_cast<size_t>(p - literal));
    if (!*p) break;
    ++p;
    if (*p == '%') {
      buffer.Append("%", 1);
      ++p;
      continue;
    }
    bool leftAlign = false;
    if (*p == '-') leftAlign = true, ++p;
    int width = 0;
    while (*p >= '0' && *p <= '9') width = width * 10 + (*p++ - '0');
    char conversion = *p++;
    if (conversion == 's') {
      const char* text = va_arg(args, const char*);
      if (!text) text = "(null)";
      AppendPadded(buffer, text, std::strlen(text), width, leftAlign);
    } else {
      char digits[16];
      char* end = digits + sizeof digits;
      char* at = end;
      unsigned long magnitude;
      bool negative = false;
      if (conversion == 'u') {
        magnitude = va_arg(args, unsigned);
      } else {
        int value = va_arg(args, int);
        negative = value < 0;
        magnitude = negative ? 0ul - static_cast<unsigned long>(static_cast<long>(value))
                             : static_cast<unsigned long>(value);
      }
      do {
        *--at = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
      } while (magnitude);
      if (negative) *--at = '-';
      AppendPadded(buffer, at, static_cast<size_t>(end - at), width, leftAlign);
    }
  }
  // A %s argument may hold a zero byte only at its end, so the text up to its
  // first zero byte is all of it; still, keep the rule exact.
  size_t appended = buffer.length - start;
  size_t text = strnlen(buffer.bytes.data() + start, appended);
  buffer.length = start + text;
  return true;
}

}  // namespace

void ReportPrintf(const char* format, ...) {
  Buffer& buffer = TheBuffer();
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  if (!AppendSimple(buffer, format, args)) AppendFormatted(buffer, format, copy);
  va_end(copy);
  va_end(args);
  buffer.Terminate();
}

void ResetReportBuffer() {
  Buffer& buffer = TheBuffer();
  buffer.length = 0;
  buffer.Terminate();
}

const char* ReportText() { return TheBuffer().bytes.data(); }

size_t ReportLength() { return TheBuffer().length; }
