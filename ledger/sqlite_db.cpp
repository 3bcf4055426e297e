#include "ledger/sqlite_db.h"

#include <sqlite3.h>

#include "ledger/sqlite_path.h"

SqliteDb::~SqliteDb() { Close(); }

bool SqliteDb::Open(const std::string& path, int flags, std::string* err) {
  Close();
  damaged_ = false;
  // One connection serves one thread: no locking around every call.
  int rc = sqlite3_open_v2(SqlitePath(path).c_str(), &db_, flags | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc == SQLITE_OK) {
    sqlite3_extended_result_codes(db_, 1);
    return true;
  }
  *err = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
  Close();
  return false;
}

void SqliteDb::Close() {
  if (db_) sqlite3_close_v2(db_);
  db_ = nullptr;
}

void SqliteDb::Note(int resultCode) const {
  if ((resultCode & 0xFF) == SQLITE_CORRUPT) damaged_ = true;
}

bool SqliteDb::Exec(const char* sql, std::string* err) {
  char* message = nullptr;
  int rc = sqlite3_exec(db_, sql, nullptr, nullptr, &message);
  Note(rc);
  if (rc == SQLITE_OK) return true;
  *err = message ? message : ErrorText();
  sqlite3_free(message);
  return false;
}

std::string SqliteDb::ErrorText() const { return db_ ? sqlite3_errmsg(db_) : "no database"; }
int SqliteDb::ErrorCode() const { return db_ ? (sqlite3_extended_errcode(db_) & 0xFF) : SQLITE_MISUSE; }

int64_t SqliteDb::LastInsertId() const { return sqlite3_last_insert_rowid(db_); }

int64_t SqliteDb::Changes() const { return sqlite3_changes(db_); }

SqliteStatement::~SqliteStatement() { sqlite3_finalize(stmt_); }

bool SqliteStatement::Prepare(const SqliteDb& db, const char* sql, std::string* err) {
  sqlite3_finalize(stmt_);
  stmt_ = nullptr;
  owner_ = &db;
  int rc = sqlite3_prepare_v2(db.get(), sql, -1, &stmt_, nullptr);
  db.Note(rc);
  if (rc == SQLITE_OK) return true;
  *err = sqlite3_errmsg(db.get());
  return false;
}

void SqliteStatement::BindInt(int index, int64_t value) { sqlite3_bind_int64(stmt_, index, value); }
void SqliteStatement::BindDouble(int index, double value) { sqlite3_bind_double(stmt_, index, value); }
void SqliteStatement::BindText(int index, const std::string& value) {
  sqlite3_bind_text(stmt_, index, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT);
}
void SqliteStatement::BindBlob(int index, const void* bytes, size_t size) {
  sqlite3_bind_blob(stmt_, index, bytes, static_cast<int>(size), SQLITE_TRANSIENT);
}
void SqliteStatement::BindStaticBlob(int index, const void* bytes, size_t size) {
  sqlite3_bind_blob(stmt_, index, bytes, static_cast<int>(size), SQLITE_STATIC);
}
void SqliteStatement::BindNull(int index) { sqlite3_bind_null(stmt_, index); }

bool SqliteStatement::Step(bool* done, std::string* err) {
  int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) return true;
  *done = rc == SQLITE_DONE;
  if (!*done) {
    owner_->Note(rc);
    *err = sqlite3_errmsg(owner_->get());
  }
  return false;
}

bool SqliteStatement::Run(std::string* err) {
  bool done = false;
  while (Step(&done, err)) {
  }
  Reset();
  return done;
}

void SqliteStatement::Reset() { sqlite3_reset(stmt_); }

int64_t SqliteStatement::Int(int column) const { return sqlite3_column_int64(stmt_, column); }
double SqliteStatement::Double(int column) const { return sqlite3_column_double(stmt_, column); }
std::string SqliteStatement::Text(int column) const {
  const unsigned char* text = sqlite3_column_text(stmt_, column);
  return text ? std::string(reinterpret_cast<const char*>(text), sqlite3_column_bytes(stmt_, column)) : std::string();
}
std::string SqliteStatement::Blob(int column) const {
  const void* bytes = sqlite3_column_blob(stmt_, column);
  return bytes ? std::string(static_cast<const char*>(bytes), sqlite3_column_bytes(stmt_, column)) : std::string();
}
bool SqliteStatement::IsNull(int column) const { return sqlite3_column_type(stmt_, column) == SQLITE_NULL; }
