#include "server/token_store.h"

#include <sys/random.h>
#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "ledger/sha256.h"
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

bool TokenList::Load(const std::string& path, std::string* err) {
  entries_.clear();
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    if (errno == ENOENT) return true;
    *err = "cannot read '" + path + "': " + std::strerror(errno);
    return false;
  }
  std::stringstream text;
  text << in.rdbuf();
  nlohmann::json doc = nlohmann::json::parse(text.str(), nullptr, false);
  if (doc.is_discarded() || !doc.is_object() || !doc.contains("tokens") || !doc["tokens"].is_array()) {
    *err = "'" + path + "' is not a token list";
    return false;
  }
  for (const nlohmann::json& item : doc["tokens"]) {
    TokenEntry entry;
    if (!item.is_object() || !item.value("name", nlohmann::json()).is_string() ||
        !item.value("sha256", nlohmann::json()).is_string() || !item.value("role", nlohmann::json()).is_string() ||
        !ParseRole(item["role"].get<std::string>(), &entry.role)) {
      *err = "'" + path + "' holds an entry that is no token";
      return false;
    }
    entry.name = item["name"].get<std::string>();
    entry.sha256 = item["sha256"].get<std::string>();
    if (item.contains("devices")) {
      for (const nlohmann::json& device : item["devices"]) {
        if (!device.is_string()) {
          *err = "'" + path + "': the devices of '" + entry.name + "' are not texts";
          return false;
        }
        entry.devices.push_back(device.get<std::string>());
      }
    }
    entries_.push_back(entry);
  }
  return true;
}

bool TokenList::Save(const std::string& path, std::string* err) const {
  nlohmann::json list = nlohmann::json::array();
  for (const TokenEntry& entry : entries_)
    list.push_back({{"name", entry.name}, {"role", RoleName(entry.role)}, {"devices", entry.devices},
                    {"sha256", entry.sha256}});
  const std::string text = nlohmann::json{{"tokens", list}}.dump(2) + "\n";

  // Only the server's user may read even the tokens' hashes.
  return WriteDurably(path, text.data(), text.size(), 0600, err);
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

bool TokenFile::Match(const std::string& presented, TokenEntry* entry) {
  std::lock_guard<std::mutex> lock(mutex_);
  struct stat info;
  const bool exists = ::stat(path_.c_str(), &info) == 0;
  const bool changed = !loaded_ || !exists || info.st_ino != inode_ || info.st_size != size_ ||
                       info.st_mtim.tv_sec != modified_.tv_sec || info.st_mtim.tv_nsec != modified_.tv_nsec;
  if (changed) {
    TokenList fresh;
    std::string err;
    if (fresh.Load(path_, &err))
      list_ = fresh;
    else  // once per change of the file
      std::fprintf(stderr, "taxoscope-server: %s; the tokens read before stay in force\n", err.c_str());
    loaded_ = true;
    inode_ = exists ? info.st_ino : 0;
    size_ = exists ? info.st_size : -1;
    modified_ = exists ? info.st_mtim : timespec{};
  }
  const TokenEntry* found = list_.Match(presented);
  if (found) *entry = *found;
  return found != nullptr;
}
