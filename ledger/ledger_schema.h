#pragma once
// The ledger's schema as SQL, version by version. A ledger file carries the
// project's own application id and its schema version in the SQLite header
// (PRAGMA application_id, PRAGMA user_version); docs/ledger.md describes the
// tables and views.
#include <cstdint>

// "TXLG": the SQLite header's application id of a ledger.
constexpr int32_t kLedgerApplicationId = 0x54584C47;
constexpr int kLedgerSchemaVersion = 3;

extern const char kLedgerSchemaV1[];
extern const char kLedgerSchemaV2[];
extern const char kLedgerSchemaV3[];
// kLedgerMigrations[i] takes version i to version i + 1; version 0 is an
// empty file.
extern const char* const kLedgerMigrations[kLedgerSchemaVersion];
