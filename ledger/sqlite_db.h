#pragma once
// Small owners of an SQLite connection and of a prepared statement, so every
// path out of a function closes and finalizes what it opened. Values go in
// through bound parameters only, never pasted into the SQL text.
#include <cstdint>
#include <string>

struct sqlite3;
struct sqlite3_stmt;

class SqliteDb {
 public:
  SqliteDb() = default;
  ~SqliteDb();
  SqliteDb(const SqliteDb&) = delete;
  SqliteDb& operator=(const SqliteDb&) = delete;

  // path: as the platform names files; flags: SQLITE_OPEN_* as
  // sqlite3_open_v2 takes them. False with the
  // reason in *err; nothing stays open then.
  bool Open(const std::string& path, int flags, std::string* err);
  void Close();
  sqlite3* get() const { return db_; }

  // Runs SQL without results (one or more statements). False with the
  // reason in *err.
  bool Exec(const char* sql, std::string* err);
  // The connection's last error text and its primary result code.
  std::string ErrorText() const;
  int ErrorCode() const;
  // The row id of the last INSERT on this connection.
  int64_t LastInsertId() const;
  // The rows the last INSERT, UPDATE or DELETE on this connection changed.
  int64_t Changes() const;
  // Whether any call on this connection met a damaged database page
  // (SQLITE_CORRUPT): a failure then says the file is damaged, not busy or full.
  bool MetDamage() const { return damaged_; }
  // Notes a result code of a call on this connection.
  void Note(int resultCode) const;

 private:
  sqlite3* db_ = nullptr;
  mutable bool damaged_ = false;
};

class SqliteStatement {
 public:
  SqliteStatement() = default;
  ~SqliteStatement();
  SqliteStatement(const SqliteStatement&) = delete;
  SqliteStatement& operator=(const SqliteStatement&) = delete;

  bool Prepare(const SqliteDb& db, const char* sql, std::string* err);

  // Parameters are numbered from 1, as in SQL's ?1, ?2 ...
  void BindInt(int index, int64_t value);
  void BindDouble(int index, double value);
  void BindText(int index, const std::string& value);
  void BindBlob(int index, const void* bytes, size_t size);
  // Bytes that stay where they are until the statement has run: not copied.
  void BindStaticBlob(int index, const void* bytes, size_t size);
  void BindNull(int index);

  // A row is waiting (true) or the statement ran to its end (false; *done
  // says whether it ended well, else *err has the reason).
  bool Step(bool* done, std::string* err);
  // Runs a statement that returns no rows; false with the reason in *err.
  bool Run(std::string* err);
  // Ready to run again; the bound values stay until bound anew.
  void Reset();

  // Columns of the current row, numbered from 0.
  int64_t Int(int column) const;
  double Double(int column) const;
  std::string Text(int column) const;
  std::string Blob(int column) const;
  bool IsNull(int column) const;

 private:
  sqlite3_stmt* stmt_ = nullptr;
  const SqliteDb* owner_ = nullptr;
};
