#include "settings/ini_store.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

namespace {

// New lines end the Windows way, so a file written here reads the same there.
const char kLineEnd[] = "\r\n";

struct Line {
  std::size_t begin;     // first byte
  std::size_t end;       // past the last byte of the content, before the line end
  std::size_t next;      // first byte of the next line
};

bool NextLine(const std::string& text, std::size_t at, Line* line) {
  if (at >= text.size()) return false;
  std::size_t end = text.find_first_of("\r\n", at);
  if (end == std::string::npos) end = text.size();
  std::size_t next = end;
  if (next < text.size() && text[next] == '\r') ++next;
  if (next < text.size() && text[next] == '\n') ++next;
  *line = {at, end, next};
  return true;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

void Trim(const std::string& text, std::size_t* begin, std::size_t* end) {
  while (*begin < *end && IsBlank(text[*begin])) ++*begin;
  while (*end > *begin && IsBlank(text[*end - 1])) --*end;
}

bool EqualsIgnoringCase(const std::string& text, std::size_t begin, std::size_t end,
                        const char* name) {
  std::size_t length = std::strlen(name);
  if (end - begin != length) return false;
  for (std::size_t i = 0; i < length; ++i) {
    unsigned char a = static_cast<unsigned char>(text[begin + i]);
    unsigned char b = static_cast<unsigned char>(name[i]);
    if (a >= 'A' && a <= 'Z') a = static_cast<unsigned char>(a - 'A' + 'a');
    if (b >= 'A' && b <= 'Z') b = static_cast<unsigned char>(b - 'A' + 'a');
    if (a != b) return false;
  }
  return true;
}

// A "[name]" line: true, with the name's bounds.
bool SectionName(const std::string& text, const Line& line, std::size_t* begin,
                 std::size_t* end) {
  std::size_t b = line.begin, e = line.end;
  Trim(text, &b, &e);
  if (b == e || text[b] != '[') return false;
  std::size_t close = text.find(']', b);
  if (close == std::string::npos || close >= e) return false;
  *begin = b + 1;
  *end = close;
  Trim(text, begin, end);
  return true;
}

// A "key=value" line: true, with the key's bounds and the position of '='.
bool KeyName(const std::string& text, const Line& line, std::size_t* begin, std::size_t* end,
             std::size_t* equals) {
  std::size_t eq = text.find('=', line.begin);
  if (eq == std::string::npos || eq >= line.end) return false;
  *begin = line.begin;
  *end = eq;
  Trim(text, begin, end);
  *equals = eq;
  return true;
}

// Where a key sits in the text, or where its section ends.
struct Place {
  bool sectionFound = false;
  bool keyFound = false;
  Line keyLine{};
  std::size_t valueBegin = 0;   // after '=' (key found)
  std::size_t insertAt = 0;     // after the section's last non-blank line (section found)
  bool insertNeedsLineEnd = false;
};

Place Locate(const std::string& text, const char* section, const char* key) {
  Place place;
  bool inSection = false;
  Line line;
  for (std::size_t at = 0; NextLine(text, at, &line); at = line.next) {
    std::size_t b, e, eq;
    if (SectionName(text, line, &b, &e)) {
      if (place.sectionFound) break;  // only the first section of that name counts
      inSection = EqualsIgnoringCase(text, b, e, section);
      if (inSection) {
        place.sectionFound = true;
        place.insertAt = line.next;
        place.insertNeedsLineEnd = line.next == line.end;
      }
      continue;
    }
    if (!inSection) continue;
    std::size_t cb = line.begin, ce = line.end;
    Trim(text, &cb, &ce);
    if (cb != ce) {
      place.insertAt = line.next;
      place.insertNeedsLineEnd = line.next == line.end;
    }
    if (KeyName(text, line, &b, &e, &eq) && EqualsIgnoringCase(text, b, e, key)) {
      place.keyFound = true;
      place.keyLine = line;
      place.valueBegin = eq + 1;
      return place;
    }
  }
  return place;
}

}  // namespace

bool IniLookup(const std::string& text, const char* section, const char* key,
               std::string* value) {
  Place place = Locate(text, section, key);
  if (!place.keyFound) return false;
  std::size_t b = place.valueBegin, e = place.keyLine.end;
  Trim(text, &b, &e);
  if (e - b >= 2 && (text[b] == '"' || text[b] == '\'') && text[e - 1] == text[b]) {
    ++b;
    --e;
  }
  value->assign(text, b, e - b);
  return true;
}

std::string IniAssign(const std::string& text, const char* section, const char* key,
                      const char* value) {
  std::string entry = key;
  entry += '=';
  entry.append(value, std::strcspn(value, "\r\n"));
  Place place = Locate(text, section, key);
  std::string out;
  if (place.keyFound) {
    out.assign(text, 0, place.keyLine.begin);
    out += entry;
    out.append(text, place.keyLine.end, std::string::npos);
  } else if (place.sectionFound) {
    out.assign(text, 0, place.insertAt);
    if (place.insertNeedsLineEnd) out += kLineEnd;
    out += entry;
    out += kLineEnd;
    out.append(text, place.insertAt, std::string::npos);
  } else {
    out = text;
    if (!out.empty() && out.back() != '\n') out += kLineEnd;
    if (!out.empty()) out += kLineEnd;  // a blank line between sections
    out += '[';
    out += section;
    out += ']';
    out += kLineEnd;
    out += entry;
    out += kLineEnd;
  }
  return out;
}

namespace {

bool ReadWholeFile(const std::string& path, std::string* text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  text->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

}  // namespace

std::string IniFileRead(const std::string& path, const char* section, const char* key,
                        const char* defaultValue) {
  std::string text, value;
  if (!ReadWholeFile(path, &text) || !IniLookup(text, section, key, &value)) value = defaultValue;
  if (value.size() > kMaxSettingLength) value.resize(kMaxSettingLength);
  return value;
}

bool IniFileWrite(const std::string& path, const char* section, const char* key,
                  const char* value) {
  std::string text;
  std::error_code ec;
  if (std::filesystem::exists(path, ec) && !ReadWholeFile(path, &text)) return false;
  std::string updated = IniAssign(text, section, key, value);

  std::string temporary = path + ".new";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(updated.data(), static_cast<std::streamsize>(updated.size()));
    out.flush();
    if (!out) {
      out.close();
      std::remove(temporary.c_str());
      return false;
    }
  }
  std::filesystem::rename(temporary, path, ec);
  if (ec) {
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}
