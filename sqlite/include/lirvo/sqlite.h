// Small owning wrappers over the SQLite C interface: a connection, its prepared statements and a
// transaction guard. Internal to Lirvo (the stand-in's store, the sync's journal, the
// verification's spool); not installed.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>

struct sqlite3;
struct sqlite3_stmt;

namespace lirvo::sqlite {

// Any failure of SQLite; the message names the database and says what SQLite said.
class Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class Database;

// One prepared statement. Binds count from 1, columns from 0, as in SQLite.
class Statement {
 public:
  // Prepares `sql` on `db`, which must outlive the statement.
  Statement(const Database& db, std::string_view sql);

  Statement& Bind(int index, std::string_view text);
  Statement& Bind(int index, const std::string& text) {
    return Bind(index, std::string_view(text));
  }
  Statement& Bind(int index, const char* text) { return Bind(index, std::string_view(text)); }
  Statement& Bind(int index, std::int64_t number);
  // Binds `text` without copying it: it must stay unchanged until the statement has been stepped
  // for the last time with this binding. For bulk inserts, where the copy costs more than the
  // insert's own work on short values.
  Statement& BindUncopied(int index, std::string_view text);
  // Binds `bytes` as a BLOB without copying it, on the terms of BindUncopied.
  Statement& BindUncopiedBlob(int index, std::string_view bytes);
  // NULL when `text` holds nothing.
  Statement& Bind(int index, const std::optional<std::string>& text);
  // Steps once: true while a row is available, false when done.
  bool Step();
  // Steps to the end and resets, for statements that give no rows.
  void Run();
  // The column's text; "" for NULL.
  std::string Text(int column) const;
  // The column's text; nothing for NULL.
  std::optional<std::string> OptionalText(int column) const;
  // The column's text (or a BLOB's bytes) where SQLite holds it, valid until the next step or
  // reset; nothing for NULL. Read without a copy, for rows read by the hundred thousand.
  std::optional<std::string_view> View(int column) const;
  // Room for the digits of any INTEGER ("-9223372036854775808") and of a REAL of 15 significant
  // digits ("-0.000123456789012345").
  using Digits = std::array<char, 32>;
  // As View, but an INTEGER is written into `digits` (the view then points there) as SQLite writes
  // it: its decimal digits, after a '-' when negative; and so is a REAL whose shortest form has
  // at most 15 significant digits, from 1e-4 to below 1e15 ("1234.5", "3.0"). The same text,
  // without SQLite's conversion and its allocation, for tables of numbers read by the hundred
  // thousand.
  std::optional<std::string_view> View(int column, Digits& digits) const;
  std::int64_t Int(int column) const;
  // How many columns each row has.
  int Columns() const;
  // Resets the statement and clears its bindings.
  void Reset();
  // Resets the statement, keeping its bindings for the next step.
  void Rewind();

 private:
  struct Finalize {
    void operator()(sqlite3_stmt* statement) const;
  };
  const Database* db_;
  std::unique_ptr<sqlite3_stmt, Finalize> statement_;
};

struct OpenOptions {
  bool read_only = false;  // else read-write, creating the file when it is missing
  int busy_timeout_ms = 5000;
  std::string name;  // how messages name the database; the path when empty
  // Receives the message of every failure and may throw the caller's own exception instead of
  // Error; when it returns (or is not set), Error is thrown.
  std::function<void(const std::string& message)> raise;
};

// An open connection with a cache of prepared statements. Not thread-safe: callers serialise.
// Every failure throws Error (or what OpenOptions::raise throws).
class Database {
 public:
  // Opens the file at `path` (created unless read-only); ":memory:" for a private in-memory
  // database, "" for a private temporary one on disk that SQLite deletes when it is closed.
  Database(const std::string& path, bool read_only);
  Database(const std::string& path, OpenOptions options);
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  // Runs statements that return no rows.
  void Execute(std::string_view sql);
  // Whether a transaction is open (BEGIN without its COMMIT or ROLLBACK yet).
  bool InTransaction() const;
  // The cached statement for `sql`, reset and with no bindings.
  Statement& Query(std::string_view sql);
  // A statement of the caller's own, finalized when it goes.
  Statement Prepare(std::string_view sql) const { return Statement(*this, sql); }
  std::int64_t LastInsertId() const;
  // Rows changed by the last INSERT, UPDATE or DELETE.
  int Changes() const;
  const std::string& path() const { return path_; }

 private:
  friend class Statement;
  // Reports a failure: "<name>: <what SQLite said>", prefixed by `action` when given.
  [[noreturn]] void Fail(std::string_view action, std::string_view reason) const;
  [[noreturn]] void Fail() const;

  struct Close {
    void operator()(sqlite3* db) const;
  };
  std::string path_;
  OpenOptions options_;
  std::unique_ptr<sqlite3, Close> db_;
  std::unordered_map<std::string, std::unique_ptr<Statement>> statements_;
};

// A transaction that rolls back unless committed.
class Transaction {
 public:
  // Begins it with `begin` ("BEGIN", "BEGIN IMMEDIATE").
  explicit Transaction(Database& db, std::string_view begin = "BEGIN");
  ~Transaction();
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  void Commit();

 private:
  Database& db_;
  bool done_ = false;
};

}  // namespace lirvo::sqlite
