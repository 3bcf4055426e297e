#pragma once
// The answers of /api/v1: the ledger's queries through the writers of
// `taxoscope-cli ledger` (the CSV, JSON and findings of its export and
// check), and the errors, each a JSON object {"error": ..., "detail": ...}
// with the status that fits. No HTTP library here: a handler turns a
// request's query into one of these and sends what it gives.
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "ledger/ledger_file.h"
#include "ledger/ledger_query.h"
#include "server/ledger_service.h"
#include "server/sums_cache.h"

// Where a streamed answer's body goes, piece by piece, as the client takes
// it: Write waits while the pieces not yet sent fill their bound, and is
// false once the client is gone (the answer is then given up).
class AnswerSink {
 public:
  virtual ~AnswerSink() = default;
  virtual bool Write(std::string piece) = 0;
};

struct Answer {
  int status = 200;
  std::string contentType = "application/json";
  std::string body;
  // Headers of this answer beyond the server's own (Allow, WWW-Authenticate,
  // the pages' Content-Security-Policy).
  std::vector<std::pair<std::string, std::string>> headers;
  // An answer too large to hold whole: the body is written by this, on the
  // thread that made the answer, after the status and headers are out. False
  // (*err why) when it could not be finished: the client then sees the
  // answer cut off, never a shorter one that looks whole.
  std::function<bool(AnswerSink& sink, std::string* err)> stream;
};

// A request's query, each key as often as it was given.
using QueryParams = std::multimap<std::string, std::string>;

// {"error": "not_found", "detail": detail} for the status.
Answer ErrorAnswer(int status, const std::string& detail);
// The same with an error name of its own ("not_a_dump").
Answer ErrorAnswer(int status, const std::string& detail, const char* error);
// The short name of an error status ("bad_request", "payload_too_large", ...).
const char* ErrorName(int status);

// The selection of a query: `device` (any number of times), `from` and `to`
// (dd/mm/yyyy, both or neither), checked against the ledger. False with the
// error answer (400 for a bad bound or parameter, 404 for an unknown device).
// allowed: the further keys the caller takes ("format", "per-device").
bool SelectionOfQuery(LedgerFile& ledger, const QueryParams& query, std::initializer_list<const char*> allowed,
                      LedgerSelection* selection, ResolvedSelection* resolved, Answer* error);

Answer DevicesAnswer(LedgerFile& ledger);
// The monthly VAT table: JSON, or format=csv|excel; per-device=1 per device and month.
Answer MonthsAnswer(LedgerFile& ledger, const QueryParams& query, SumsCache* cache);
// The daily reports: format=json (default), csv or excel.
Answer ReportsAnswer(LedgerFile& ledger, const QueryParams& query, SumsCache* cache);
// `ledger check`'s findings as JSON.
Answer CheckAnswer(LedgerFile& ledger, const QueryParams& query);
// What an upload gave.
Answer UploadAnswer(const UploadResult& result);
// DELETE /api/v1/dumps/SHA256[?device=ID][&why=TEXT]: the withdrawal of a
// stored dump (admin), and what left the ledger with it.
Answer WithdrawalAnswer(LedgerService& ledger, const std::string& sha256, const QueryParams& query);

// The name the exports give the ledger: the file's own name, never the
// server's folders.
constexpr char kLedgerName[] = "ledger.db";

// The sums of a resolved selection through the cache, with the device list
// the cache needs read in the same transaction.
bool CachedSums(LedgerFile& ledger, const ResolvedSelection& selection, SumsCache* cache, bool deviceMonths,
                LedgerSelectionSums* sums, std::string* err);

// Runs reads in one read transaction, so an answer is the ledger as it stood
// at one moment, whatever uploads commit meanwhile.
template <typename Read>
bool InSnapshot(LedgerFile& ledger, std::string* err, Read read) {
  LedgerReadSnapshot snapshot(ledger);
  return snapshot.Begin(err) && read();
}
