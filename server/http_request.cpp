#include "server/http_request.h"

#include <strings.h>

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string Trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

}  // namespace

bool HeaderNameLess::operator()(const std::string& a, const std::string& b) const {
  return strcasecmp(a.c_str(), b.c_str()) < 0;
}

std::string HttpRequest::Header(const char* name) const {
  auto found = headers.find(name);
  return found == headers.end() ? std::string() : found->second;
}

std::string PercentDecode(const std::string& text, bool plusAsSpace) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '+' && plusAsSpace) {
      out += ' ';
    } else if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

bool ParseRequestTarget(const std::string& target, std::string* path, QueryParams* query) {
  if (target.empty() || target[0] != '/') return false;
  const size_t mark = target.find('?');
  *path = PercentDecode(target.substr(0, mark), false);
  query->clear();
  if (mark == std::string::npos) return true;
  const std::string text = target.substr(mark + 1);
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('&', start);
    if (end == std::string::npos) end = text.size();
    const std::string pair = text.substr(start, end - start);
    if (!pair.empty()) {
      const size_t equals = pair.find('=');
      const std::string key = PercentDecode(pair.substr(0, equals), true);
      const std::string value = equals == std::string::npos ? std::string() : PercentDecode(pair.substr(equals + 1), true);
      query->emplace(key, value);
    }
    start = end + 1;
  }
  return true;
}

BodyFraming FramingOf(const std::string& method, const HttpHeaders& headers) {
  BodyFraming framing;
  auto refuse = [&framing](int status, const std::string& detail) {
    framing.refusal = status;
    framing.detail = detail;
    return framing;
  };
  const auto lengths = headers.equal_range("Content-Length");
  for (auto it = lengths.first; it != lengths.second; ++it) {
    const std::string value = Trimmed(it->second);
    if (value.empty() || value.size() > 18 || value.find_first_not_of("0123456789") != std::string::npos)
      return refuse(400, "Content-Length is not a length in bytes");
    const uint64_t length = std::stoull(value);
    if (framing.hasLength && length != framing.length) return refuse(400, "two different Content-Length headers");
    framing.hasLength = true;
    framing.length = length;
  }
  const size_t codings = headers.count("Transfer-Encoding");
  if (codings > 0) {
    if (framing.hasLength) return refuse(400, "Content-Length beside Transfer-Encoding");
    if (codings > 1 || strcasecmp(Trimmed(headers.find("Transfer-Encoding")->second).c_str(), "chunked") != 0)
      return refuse(501, "the only transfer coding taken is chunked, alone");
    framing.chunked = true;
  }
  if (!framing.hasLength && !framing.chunked && (method == "POST" || method == "PUT" || method == "PATCH"))
    return refuse(411, "send the body's length in Content-Length (or the body chunked)");
  return framing;
}
