#include "server/token_store.h"

#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "ledger/sha256.h"
#include "server/device_id.h"
#include "server/durable_file.h"

const char* RoleName(TokenRole role) {
  switch (role) {
    case RoleUpload: return "upload";
    case RoleRead: return "read";
    case RoleAdmin: return "admin";
  }
  return "?";
}

bool ParseRole(const std::string& text, TokenRole* role) {
  for (TokenRole r : {RoleUpload, RoleRead, RoleAdmin}) {
    if (text == RoleName(r)) {
      *role = r;
      return true;
    }
  }
  return false;
}

bool IsValidTokenName(const std::string& name) {
  if (name.empty() || name.size() > 64) return false;
  for (char c : name)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '_' && c != '-') return false;
  return true;
}

bool NewToken(std::string* token, std::string* err) {
  unsigned char bytes[32];
  size_t got = 0;
  while (got < sizeof bytes) {
    ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *err = std::string("the system's random source failed: ") + std::strerror(errno);
      return false;
    }
    got += static_cast<size_t>(n);
  }
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
  token->clear();
  uint32_t bits = 0;
  int held = 0;
  for (unsigned char byte : bytes) {
    bits = bits << 8 | byte;
    held += 8;
    while (held >= 6) {
      held -= 6;
      *token += kAlphabet[(bits >> held) & 63];
    }
  }
  if (held > 0) *token += kAlphabet[(bits << (6 - held)) & 63];
  return true;
}

std::string TokenHash(const std::string& token) { return Sha256Hex(token.data(), token.size()); }

bool ConstantTimeEqual(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  volatile unsigned char difference = 0;
  for (size_t i = 0; i < a.size(); ++i) difference |= static_cast<unsigned char>(a[i] ^ b[i]);
  return difference == 0;
}

namespace {

bool IsSha256Hex(const std::string& text) {
  return text.size() == 64 && text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

// One entry of the list, every field as the format gives it: a field that is
// missing, of another type or unknown (a hand edit's "device" for
// "devices" would make a device-limited token unlimited) refuses the file.
bool ParseEntry(const nlohmann::json& item, TokenEntry* entry, std::string* why) {
  if (!item.is_object()) {
    *why = "an entry is not an object";
    return false;
  }
  const nlohmann::json* name = item.contains("name") ? &item["name"] : nullptr;
  if (!name || !name->is_string() || !IsValidTokenName(name->get<std::string>())) {
    *why = "an entry has no valid \"name\"";
    return false;
  }
  entry->name = name->get<std::string>();
  const std::string which = "token '" + entry->name + "': ";
  for (const auto& field : item.items()) {
    if (field.key() != "name" && field.key() != "role" && field.key() != "devices" && field.key() != "sha256") {
      *why = which + "unknown field \"" + field.key() + "\"";
      return false;
    }
  }
  if (!item.contains("role") || !item["role"].is_string() || !ParseRole(item["role"].get<std::string>(), &entry->role)) {
    *why = which + "\"role\" is not upload, read or admin";
    return false;
  }
  if (!item.contains("sha256") || !item["sha256"].is_string() || !IsSha256Hex(item["sha256"].get<std::string>())) {
    *why = which + "\"sha256\" is not 64 lower-case hex digits";
    return false;
  }
  entry->sha256 = item["sha256"].get<std::string>();
  entry->devices.clear();
  if (item.contains("devices")) {
    const nlohmann::json& devices = item["devices"];
    if (!devices.is_array()) {
      *why = which + "\"devices\" is not a list of device ids";
      return false;
    }
    for (const nlohmann::json& device : devices) {
      std::string problem;
      if (!device.is_string() || !CheckDeviceId(device.get<std::string>(), &problem)) {
        *why = which + "\"devices\" holds " + (device.is_string() ? problem : "a value that is no text");
        return false;
      }
      entry->devices.push_back(device.get<std::string>());
    }
    if (!entry->devices.empty() && entry->role != RoleUpload) {
      *why = which + "only a token of the upload role has devices";
      return false;
    }
  }
  return true;
}

}  // namespace

bool TokenList::Load(const std::string& path, std::string* err, std::string* brief) {
  entries_.clear();
  std::string why;
  auto fail = [&](const std::string& reason) {
    if (brief) *brief = reason;
    *err = "'" + path + "': " + reason;
    return false;
  };
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    if (errno == ENOENT) return true;
    return fail(std::string("cannot be read: ") + std::strerror(errno));
  }
  std::stringstream text;
  text << in.rdbuf();
  if (in.bad()) return fail(std::string("cannot be read: ") + std::strerror(errno));
  nlohmann::json doc = nlohmann::json::parse(text.str(), nullptr, false);
  if (doc.is_discarded()) return fail("is not a token list (not JSON)");
  if (!doc.is_object() || !doc.contains("tokens") || !doc["tokens"].is_array() || doc.size() != 1)
    return fail("is not a token list (an object with \"tokens\" alone)");
  std::vector<TokenEntry> entries;
  for (const nlohmann::json& item : doc["tokens"]) {
    TokenEntry entry;
    if (!ParseEntry(item, &entry, &why)) return fail("is not a token list (" + why + ")");
    for (const TokenEntry& other : entries)
      if (other.name == entry.name) return fail("is not a token list (token '" + entry.name + "' twice)");
    entries.push_back(entry);
  }
  entries_ = std::move(entries);
  return true;
}

bool TokenList::Save(const std::string& path, std::string* err) const {
  nlohmann::json list = nlohmann::json::array();
  for (const TokenEntry& entry : entries_)
    list.push_back({{"name", entry.name}, {"role", RoleName(entry.role)}, {"devices", entry.devices},
                    {"sha256", entry.sha256}});
  const std::string text = nlohmann::json{{"tokens", list}}.dump(2) + "\n";

  // Only the server's user may read even the tokens' hashes. A file that is
  // there keeps its owner and mode; a new one made by root is the state
  // folder's owner's, so that the server reads it.
  FileOwner owner;
  const size_t slash = path.rfind('/');
  const bool newOwner = ::geteuid() == 0 && OwnerOf(slash == std::string::npos ? "." : path.substr(0, slash), &owner);
  return WriteDurably(path, text.data(), text.size(), 0600, err, newOwner ? &owner : nullptr);
}

const TokenEntry* TokenList::Find(const std::string& name) const {
  for (const TokenEntry& entry : entries_)
    if (entry.name == name) return &entry;
  return nullptr;
}

bool TokenList::Remove(const std::string& name) {
  for (auto it = entries_.begin(); it != entries_.end(); ++it) {
    if (it->name == name) {
      entries_.erase(it);
      return true;
    }
  }
  return false;
}

const TokenEntry* TokenList::Match(const std::string& presented) const {
  const std::string hash = TokenHash(presented);
  const TokenEntry* found = nullptr;
  for (const TokenEntry& entry : entries_)
    if (ConstantTimeEqual(entry.sha256, hash) && !found) found = &entry;
  return found;
}

void TokenFile::Refresh() {
  struct stat info;
  const bool exists = ::stat(path_.c_str(), &info) == 0;
  // The change time moves with a chown or chmod too, which may make an
  // unreadable file readable.
  const bool changed = !loaded_ || exists != exists_ ||
                       (exists && (info.st_ino != inode_ || info.st_size != size_ ||
                                   info.st_mtim.tv_sec != modified_.tv_sec || info.st_mtim.tv_nsec != modified_.tv_nsec ||
                                   info.st_ctim.tv_sec != statusChanged_.tv_sec ||
                                   info.st_ctim.tv_nsec != statusChanged_.tv_nsec));
  if (!changed) return;
  loaded_ = true;
  exists_ = exists;
  inode_ = exists ? info.st_ino : 0;
  size_ = exists ? info.st_size : -1;
  modified_ = exists ? info.st_mtim : timespec{};
  statusChanged_ = exists ? info.st_ctim : timespec{};
  TokenList fresh;
  std::string err, brief;
  if (fresh.Load(path_, &err, &brief)) {
    if (!problem_.empty()) std::fprintf(stderr, "taxoscope-server: '%s' read again; its tokens are in force\n", path_.c_str());
    list_ = fresh;
    problem_.clear();
    return;
  }
  // Fail closed: a list that cannot be read is no list, and no token passes.
  list_ = TokenList();
  problem_ = brief;
  std::fprintf(stderr, "taxoscope-server: %s; every token is refused until it can be read\n", err.c_str());
}

bool TokenFile::Match(const std::string& presented, TokenEntry* entry) {
  std::lock_guard<std::mutex> lock(mutex_);
  Refresh();
  // The hash is made and compared for every request, usable list or not.
  const TokenEntry* found = list_.Match(presented);
  if (found) *entry = *found;
  return found != nullptr;
}

bool TokenFile::Usable(std::string* reason) {
  std::lock_guard<std::mutex> lock(mutex_);
  Refresh();
  if (problem_.empty()) return true;
  *reason = "the tokens file " + problem_ + ": every token is refused";
  return false;
}
