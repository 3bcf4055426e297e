#pragma once
// The server's tokens: a name, a role, the devices an upload token may send
// for, and the SHA-256 of the token. The token itself is shown once, when it
// is made, and never kept: the file `tokens` in the state folder holds only
// the hashes (JSON, mode 600).
//
//   {"tokens": [{"name": "shop-1", "role": "upload", "devices": ["DV000001"],
//                "sha256": "9f86d0..."}]}
#include <sys/stat.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

enum TokenRole {
  RoleUpload,  // may only send dumps, and only for its devices when it has any
  RoleRead,    // may read everything, send nothing
  RoleAdmin,   // both
};

const char* RoleName(TokenRole role);
bool ParseRole(const std::string& text, TokenRole* role);

struct TokenEntry {
  std::string name;
  TokenRole role = RoleRead;
  std::vector<std::string> devices;  // upload: the devices it may send for; none: any
  std::string sha256;                // of the token, lower-case hex
};

// A token name: 1 to 64 letters, digits, '.', '_' or '-' (it is logged).
bool IsValidTokenName(const std::string& name);

// A new token: 32 bytes of the system's random source as 43 characters of
// base64url. False with the reason when the source fails.
bool NewToken(std::string* token, std::string* err);

// The stored form of a token.
std::string TokenHash(const std::string& token);

class TokenList {
 public:
  // A missing file is an empty list. False with the reason for a file that
  // cannot be read or is no token list in every field (then the list is
  // empty): *err names the file, *brief (when given) does not.
  bool Load(const std::string& path, std::string* err, std::string* brief = nullptr);
  // Replaces the file whole, on the disk before it returns. A file that is
  // there keeps its owner and mode; a new one has mode 600 (made by root:
  // the owner of its folder).
  bool Save(const std::string& path, std::string* err) const;

  const std::vector<TokenEntry>& entries() const { return entries_; }
  const TokenEntry* Find(const std::string& name) const;
  void Add(const TokenEntry& entry) { entries_.push_back(entry); }
  bool Remove(const std::string& name);

  // The entry whose hash is the presented token's, or null. Every entry is
  // compared, each in constant time, so the time taken says nothing about
  // how near a wrong token came to a right one.
  const TokenEntry* Match(const std::string& presented) const;

 private:
  std::vector<TokenEntry> entries_;
};

// Equal strings, compared in a time that depends only on their lengths.
bool ConstantTimeEqual(const std::string& a, const std::string& b);

// The tokens file as a running server sees it: read again whenever it
// changes on the disk (its bytes, its owner or its mode), so `token add` and
// `token remove` take effect at once. A file that cannot be read or is no
// token list refuses every token until a change makes it one again: a
// removal that the server could not read is never a token kept.
class TokenFile {
 public:
  explicit TokenFile(std::string path) : path_(std::move(path)) {}
  // The entry of the presented token (copied), or false.
  bool Match(const std::string& presented, TokenEntry* entry);
  // False, with a reason that names no path, while every token is refused.
  bool Usable(std::string* reason);

 private:
  void Refresh();

  std::string path_;
  std::mutex mutex_;
  TokenList list_;
  std::string problem_;  // why the file cannot be used; empty when it can
  bool loaded_ = false, exists_ = false;
  struct timespec modified_ = {}, statusChanged_ = {};
  off_t size_ = -1;
  ino_t inode_ = 0;
};
