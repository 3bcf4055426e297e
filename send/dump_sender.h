#pragma once
// Sending one dump to a taxoscope-server: POST PREFIX/api/v1/dumps with the
// dump's bytes, the token as Authorization: Bearer, the device as ?device=
// when it is given (else the server takes it from the file name, as `ledger
// add` does), and the file name, percent-encoded UTF-8, as X-Dump-Name. The
// answer is the server's add: what `ledger add` says of the same dump. The
// same bytes sent again count nothing twice.
#include <cstdint>
#include <string>
#include <vector>

#include "send/server_url.h"

struct SendTarget {
  ServerUrl url;
  std::string token;
  std::string caFile;  // empty: the system's authorities
};

enum SendOutcome {
  SendAdded,         // with or without conflicts
  SendNotADump,      // the server found no dump of this device family in the bytes
  SendTokenRefused,  // 401 or 403: no token, an unknown one, or one without the right
  SendServerError,   // any other error answer
  SendUnreachable,   // no answer: no connection, a refused certificate, a time-out
};

struct SentConflict {
  int32_t number = 0;
  std::string date;  // YYYY-MM-DD HH:MM
};

struct SendResult {
  std::string device;  // as the ledger keeps it
  int64_t added = 0, already = 0, repaired = 0;
  // The dump disagrees with the ledger (another register under the same id,
  // or a memory altered since): nothing of it was added; conflicts names the
  // numbers that disagree.
  bool refused = false;
  std::vector<SentConflict> conflicts;
  // Reports whose CRC failed, of reports the ledger holds intact.
  std::vector<SentConflict> damagedCopies;
  int status = 0;      // the HTTP status, 0 without an answer
  std::string detail;  // why it failed: the server's detail or the client's reason
};

// device: "" to let the server take it from fileName (a path; only its last
// part is sent).
SendOutcome SendDump(const SendTarget& target, const std::string& bytes, const std::string& fileName,
                     const std::string& device, SendResult* result);

// The token of a token file: its first line without surrounding blanks.
// False with the reason for a file that cannot be read, a folder, a file
// without a token or one whose token is no token (a byte-order mark before
// it, as some editors write); *warning (when given) says so when others than
// its owner may read it.
bool ReadTokenFile(const std::string& path, std::string* token, std::string* err, std::string* warning = nullptr);

// Bytes other than printable ASCII, and '%', as %XX.
std::string PercentEncode(const std::string& text, bool queryValue);
