#include "sqlite.h"

#include <sqlite3.h>

namespace lirvo::standin {

namespace {

std::string Describe(sqlite3* db, const std::string& where) {
  return where + ": " + (db != nullptr ? sqlite3_errmsg(db) : "out of memory");
}

}  // namespace

void Statement::Finalize::operator()(sqlite3_stmt* statement) const {
  sqlite3_finalize(statement);
}

Statement::Statement(sqlite3* db, std::string_view sql, const std::string& where)
    : db_(db), where_(where) {
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &raw, nullptr) !=
      SQLITE_OK) {
    throw StoreError(Describe(db, where));
  }
  statement_.reset(raw);
}

Statement& Statement::Bind(int index, std::string_view text) {
  if (sqlite3_bind_text64(statement_.get(), index, text.data(), text.size(), SQLITE_TRANSIENT,
                          SQLITE_UTF8) != SQLITE_OK) {
    throw StoreError(Describe(db_, where_));
  }
  return *this;
}

Statement& Statement::BindUncopied(int index, std::string_view text) {
  if (sqlite3_bind_text64(statement_.get(), index, text.data(), text.size(), SQLITE_STATIC,
                          SQLITE_UTF8) != SQLITE_OK) {
    throw StoreError(Describe(db_, where_));
  }
  return *this;
}

Statement& Statement::Bind(int index, std::int64_t number) {
  if (sqlite3_bind_int64(statement_.get(), index, number) != SQLITE_OK) {
    throw StoreError(Describe(db_, where_));
  }
  return *this;
}

bool Statement::Step() {
  const int result = sqlite3_step(statement_.get());
  if (result == SQLITE_ROW) {
    return true;
  }
  if (result == SQLITE_DONE) {
    return false;
  }
  throw StoreError(Describe(db_, where_));
}

std::string Statement::Text(int column) const {
  const unsigned char* text = sqlite3_column_text(statement_.get(), column);
  if (text == nullptr) {
    return {};
  }
  return std::string(reinterpret_cast<const char*>(text),
                     static_cast<std::size_t>(sqlite3_column_bytes(statement_.get(), column)));
}

std::int64_t Statement::Int(int column) const {
  return sqlite3_column_int64(statement_.get(), column);
}

void Statement::Reset() {
  sqlite3_reset(statement_.get());
  sqlite3_clear_bindings(statement_.get());
}

void Database::Close::operator()(sqlite3* db) const {
  sqlite3_close_v2(db);
}

Database::Database(const std::string& path, bool read_only) : path_(path) {
  sqlite3* raw = nullptr;
  const int flags =
      (read_only ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE) |
      SQLITE_OPEN_NOMUTEX;
  const int result = sqlite3_open_v2(path.c_str(), &raw, flags, nullptr);
  db_.reset(raw);
  if (result != SQLITE_OK) {
    throw StoreError("cannot open " + Describe(raw, path));
  }
  sqlite3_extended_result_codes(raw, 1);
  // Another process (a test reading the file) may hold a read lock for a moment.
  sqlite3_busy_timeout(raw, 5000);
}

void Database::Execute(std::string_view sql) {
  char* message = nullptr;
  const std::string text(sql);
  if (sqlite3_exec(db_.get(), text.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
    std::string description = path_ + ": " + (message != nullptr ? message : "unknown error");
    sqlite3_free(message);
    throw StoreError(description);
  }
}

Statement& Database::Query(std::string_view sql) {
  auto found = statements_.find(std::string(sql));
  if (found == statements_.end()) {
    found =
        statements_.emplace(std::string(sql), std::make_unique<Statement>(db_.get(), sql, path_))
            .first;
  }
  found->second->Reset();
  return *found->second;
}

std::int64_t Database::LastInsertId() const {
  return sqlite3_last_insert_rowid(db_.get());
}

}  // namespace lirvo::standin
