// Small owning wrappers over the SQLite C interface: a connection and its prepared statements.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>

struct sqlite3;
struct sqlite3_stmt;

namespace lirvo::standin {

// Any failure of the store; the message names the file and what SQLite said.
class StoreError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One prepared statement, reset and cleared after each use through Query.
class Statement {
 public:
  Statement(sqlite3* db, std::string_view sql, const std::string& where);

  // Binds count from 1, as SQLite does.
  Statement& Bind(int index, std::string_view text);
  Statement& Bind(int index, std::int64_t number);
  // Binds `text` without copying it: it must stay unchanged until the statement has been stepped
  // for the last time with this binding. For the inserts of an import, where the copy costs more
  // than the insert's own work on short values.
  Statement& BindUncopied(int index, std::string_view text);
  // Steps once: true while a row is available, false when done. Throws StoreError.
  bool Step();
  // Columns count from 0 (unlike binds).
  std::string Text(int column) const;
  std::int64_t Int(int column) const;
  void Reset();

 private:
  struct Finalize {
    void operator()(sqlite3_stmt* statement) const;
  };
  sqlite3* db_;
  std::unique_ptr<sqlite3_stmt, Finalize> statement_;
  std::string where_;
};

// An open database with a cache of prepared statements. Not thread-safe: callers serialise.
class Database {
 public:
  // Opens (creating when `create` is set) the file at `path`; ":memory:" for a private in-memory
  // database. Throws StoreError.
  Database(const std::string& path, bool read_only);

  // Runs statements that return no rows.
  void Execute(std::string_view sql);
  // The cached statement for `sql`, reset and with no bindings.
  Statement& Query(std::string_view sql);
  std::int64_t LastInsertId() const;
  const std::string& path() const { return path_; }

 private:
  struct Close {
    void operator()(sqlite3* db) const;
  };
  std::string path_;
  std::unique_ptr<sqlite3, Close> db_;
  std::unordered_map<std::string, std::unique_ptr<Statement>> statements_;
};

}  // namespace lirvo::standin
