#include "app/token_vault.h"

#include <windows.h>
#include <wincrypt.h>

#include <cstring>
#include <vector>

namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
// Binds the sealed token to this use: a blob sealed for something else does
// not unseal as a token.
const char kPurpose[] = "Taxoscope server token";

std::string Base64(const BYTE* bytes, DWORD size) {
  std::string out;
  for (DWORD i = 0; i < size; i += 3) {
    const DWORD chunk = bytes[i] << 16 | (i + 1 < size ? bytes[i + 1] << 8 : 0) | (i + 2 < size ? bytes[i + 2] : 0);
    out += kAlphabet[chunk >> 18 & 63];
    out += kAlphabet[chunk >> 12 & 63];
    out += i + 1 < size ? kAlphabet[chunk >> 6 & 63] : '=';
    out += i + 2 < size ? kAlphabet[chunk & 63] : '=';
  }
  return out;
}

bool FromBase64(const std::string& text, std::vector<BYTE>* bytes) {
  if (text.empty() || text.size() % 4 != 0) return false;
  DWORD bits = 0;
  int held = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '=') {
      if (i + 2 < text.size()) return false;
      continue;
    }
    const char* at = std::strchr(kAlphabet, text[i]);
    if (!at || !*at) return false;
    bits = bits << 6 | static_cast<DWORD>(at - kAlphabet);
    held += 6;
    if (held >= 8) {
      held -= 8;
      bytes->push_back(static_cast<BYTE>(bits >> held & 0xFF));
    }
  }
  return true;
}

}  // namespace

bool SealToken(const std::string& token, std::string* sealed) {
  DATA_BLOB in = {static_cast<DWORD>(token.size()), reinterpret_cast<BYTE*>(const_cast<char*>(token.data()))};
  DATA_BLOB entropy = {sizeof kPurpose - 1, reinterpret_cast<BYTE*>(const_cast<char*>(kPurpose))};
  DATA_BLOB out = {0, nullptr};
  if (!CryptProtectData(&in, L"taxoscope", &entropy, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &out)) return false;
  *sealed = Base64(out.pbData, out.cbData);
  LocalFree(out.pbData);
  return true;
}

bool UnsealToken(const std::string& sealed, std::string* token) {
  std::vector<BYTE> bytes;
  if (!FromBase64(sealed, &bytes)) return false;
  DATA_BLOB in = {static_cast<DWORD>(bytes.size()), bytes.data()};
  DATA_BLOB entropy = {sizeof kPurpose - 1, reinterpret_cast<BYTE*>(const_cast<char*>(kPurpose))};
  DATA_BLOB out = {0, nullptr};
  if (!CryptUnprotectData(&in, nullptr, &entropy, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &out)) return false;
  token->assign(reinterpret_cast<const char*>(out.pbData), out.cbData);
  SecureZeroMemory(out.pbData, out.cbData);
  LocalFree(out.pbData);
  return true;
}
