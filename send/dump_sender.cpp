#include "send/dump_sender.h"

#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "export/path_utf8.h"
#include "send/file_privacy.h"
#include "send/http_client.h"

namespace {

std::string BaseName(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The numbers of an add, or false for an answer that is no add.
bool ReadAdd(const std::string& body, SendResult* result) {
  nlohmann::json answer = nlohmann::json::parse(body, nullptr, false);
  if (answer.is_discarded() || !answer.is_object()) return false;
  auto number = [&](const char* key, int64_t* value) {
    if (!answer.contains(key) || !answer[key].is_number_integer()) return false;
    *value = answer[key].get<int64_t>();
    return true;
  };
  if (!answer.contains("device") || !answer["device"].is_string() || !number("new", &result->added) ||
      !number("already", &result->already) || !answer.contains("conflicts") || !answer["conflicts"].is_array())
    return false;
  number("repaired", &result->repaired);
  result->refused = answer.contains("refused") && answer["refused"].is_boolean() && answer["refused"].get<bool>();
  result->device = answer["device"].get<std::string>();
  auto reports = [&](const char* key, std::vector<SentConflict>* list) {
    if (!answer.contains(key) || !answer[key].is_array()) return;
    for (const nlohmann::json& report : answer[key]) {
      SentConflict sent;
      if (report.contains("report") && report["report"].is_number_integer())
        sent.number = report["report"].get<int32_t>();
      if (report.contains("date") && report["date"].is_string()) sent.date = report["date"].get<std::string>();
      list->push_back(sent);
    }
  };
  reports("conflicts", &result->conflicts);
  reports("damaged_copies", &result->damagedCopies);
  return true;
}

// The server's {"error", "detail"}, or the start of whatever else it said.
void ReadError(const HttpAnswer& answer, std::string* error, std::string* detail) {
  nlohmann::json body = nlohmann::json::parse(answer.body, nullptr, false);
  if (!body.is_discarded() && body.is_object() && body.contains("detail") && body["detail"].is_string()) {
    *detail = body["detail"].get<std::string>();
    if (body.contains("error") && body["error"].is_string()) *error = body["error"].get<std::string>();
    return;
  }
  *detail = "HTTP " + std::to_string(answer.status);
  if (!answer.body.empty()) *detail += ": " + answer.body.substr(0, 200);
}

}  // namespace

std::string PercentEncode(const std::string& text, bool queryValue) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (char c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    const bool plain = queryValue ? (std::isalnum(byte) || byte == '-' || byte == '_' || byte == '.' || byte == '~')
                                  : (byte > 0x20 && byte < 0x7F && byte != '%');
    if (plain) {
      out += c;
    } else {
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 15];
    }
  }
  return out;
}

bool ReadTokenFile(const std::string& path, std::string* token, std::string* err, std::string* warning) {
  struct stat info;
  if (::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
    *err = "the token file '" + path + "' is a folder, not a file";
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *err = "cannot read the token file '" + path + "': " + std::strerror(errno);
    return false;
  }
  std::string line;
  std::getline(in, line);
  if (line.compare(0, 3, "\xEF\xBB\xBF") == 0) {
    *err = "the token file '" + path + "' begins with a byte-order mark (U+FEFF): save it as plain text without one";
    return false;
  }
  const size_t first = line.find_first_not_of(" \t\r\n");
  const size_t last = line.find_last_not_of(" \t\r\n");
  *token = first == std::string::npos ? std::string() : line.substr(first, last - first + 1);
  if (token->empty()) {
    *err = "the token file '" + path + "' holds no token";
    return false;
  }
  // A token is printable ASCII; anything else never matches one the server made.
  for (char c : *token) {
    if (static_cast<unsigned char>(c) <= 0x20 || static_cast<unsigned char>(c) >= 0x7F) {
      *err = "the token file '" + path + "' holds no token on its first line (a token is one word of plain ASCII)";
      return false;
    }
  }
  if (warning && OthersMayRead(path))
    *warning = "the token file '" + path + "' may be read by others than its owner (chmod 600 it)";
  return true;
}

SendOutcome SendDump(const SendTarget& target, const std::string& bytes, const std::string& fileName,
                     const std::string& device, SendResult* result) {
  *result = SendResult();
  HttpPost post;
  post.url = target.url;
  post.target = target.url.prefix + "/api/v1/dumps";
  if (!device.empty()) post.target += "?device=" + PercentEncode(PathAsUtf8(device), true);
  post.headers.emplace_back("X-Dump-Name", PercentEncode(PathAsUtf8(BaseName(fileName)), false));
  if (!target.token.empty()) post.headers.emplace_back("Authorization", "Bearer " + target.token);
  post.contentType = "application/octet-stream";
  post.body = &bytes;
  post.caFile = target.caFile;
  HttpAnswer answer;
  if (!SendHttpPost(post, &answer, &result->detail)) return SendUnreachable;
  result->status = answer.status;
  if (answer.status == 200) {
    if (ReadAdd(answer.body, result)) return SendAdded;
    result->detail = "the server's answer is not an add";
    return SendServerError;
  }
  std::string error;
  ReadError(answer, &error, &result->detail);
  if (answer.status == 401 || answer.status == 403) return SendTokenRefused;
  if (error == "not_a_dump") return SendNotADump;
  return SendServerError;
}
