// The sync's journal over SQLite: WAL with synchronous=FULL, so a committed outcome survives a
// crash of the program or the machine, and one transaction per reply.
#include "journal.h"

#include <sqlite3.h>

#include <lirvo/modTally.h>
#include <lirvo/text.h>

namespace lirvo::transfer::detail {

namespace {

using modTally::Failure;
namespace FailureNumber = modTally::FailureNumber;

[[noreturn]] void Fail(sqlite3* db, const std::string& where, const std::string& what) {
  throw Failure(FailureNumber::kFile, "the sync journal " + where + " " + what + ": " +
                                          (db ? sqlite3_errmsg(db) : "out of memory"));
}

}  // namespace

Statement::Statement(sqlite3* db, std::string_view sql, const std::string& where)
    : db_(db), where_(where) {
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &statement, nullptr) !=
      SQLITE_OK) {
    Fail(db, where_, "cannot be read");
  }
  statement_.reset(statement);
}

void Statement::Finalize::operator()(sqlite3_stmt* statement) const {
  sqlite3_finalize(statement);
}

Statement& Statement::Bind(int index, std::string_view text) {
  if (sqlite3_bind_text(statement_.get(), index, text.data(), static_cast<int>(text.size()),
                        SQLITE_TRANSIENT) != SQLITE_OK) {
    Fail(db_, where_, "cannot be written");
  }
  return *this;
}

Statement& Statement::Bind(int index, std::int64_t number) {
  if (sqlite3_bind_int64(statement_.get(), index, number) != SQLITE_OK) {
    Fail(db_, where_, "cannot be written");
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
  Fail(db_, where_, "cannot be read or written");
}

std::string Statement::Text(int column) const {
  const auto* text = sqlite3_column_text(statement_.get(), column);
  return text
             ? std::string(reinterpret_cast<const char*>(text),
                           static_cast<std::size_t>(sqlite3_column_bytes(statement_.get(), column)))
             : std::string();
}

std::int64_t Statement::Int(int column) const {
  return sqlite3_column_int64(statement_.get(), column);
}

void Statement::Reset() {
  sqlite3_reset(statement_.get());
  sqlite3_clear_bindings(statement_.get());
}

void Statement::Rewind() {
  sqlite3_reset(statement_.get());
}

void Journal::Close::operator()(sqlite3* db) const {
  sqlite3_close(db);
}

Journal::Journal(const std::filesystem::path& path, bool read_only, std::string server,
                 std::string company)
    : where_(path.string()), server_(std::move(server)), company_(text::FoldCase(company)) {
  std::error_code error;
  const bool exists = std::filesystem::exists(path, error);
  std::string file = path.string();
  int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
  if (read_only) {
    flags = exists ? SQLITE_OPEN_READONLY : (SQLITE_OPEN_READWRITE | SQLITE_OPEN_MEMORY);
    file = exists ? file : ":memory:";
  } else if (path.has_parent_path()) {
    std::filesystem::create_directories(path.parent_path(), error);
    if (error) {
      throw Failure(FailureNumber::kFile, "cannot create the folder of the sync journal " + where_ +
                                              ": " + error.message());
    }
  }
  sqlite3* db = nullptr;
  const int opened = sqlite3_open_v2(file.c_str(), &db, flags, nullptr);
  db_.reset(db);
  if (opened != SQLITE_OK) {
    Fail(db, where_, "cannot be opened");
  }
  sqlite3_busy_timeout(db, 10'000);
  if (!read_only) {
    Execute("PRAGMA journal_mode=WAL");
    Execute("PRAGMA synchronous=FULL");
  }
  Execute("PRAGMA temp_store=FILE");
  if (!read_only || !exists) {
    Execute(
        "CREATE TABLE IF NOT EXISTS vouchers("
        " server TEXT NOT NULL, company TEXT NOT NULL, voucher_id TEXT NOT NULL,"
        " digest TEXT NOT NULL, outcome TEXT NOT NULL, reason TEXT NOT NULL,"
        " recorded TEXT NOT NULL, PRIMARY KEY(server, company, voucher_id))");
  }
  Execute(
      "CREATE TEMP TABLE seen(voucher_id TEXT PRIMARY KEY, row INTEGER NOT NULL);"
      "CREATE TEMP TABLE spool(seq INTEGER PRIMARY KEY, row INTEGER NOT NULL,"
      " voucher_id TEXT NOT NULL, digest TEXT NOT NULL, message TEXT NOT NULL)");
  // The server and the company stay bound for the whole run; each lookup binds the VoucherID.
  find_ = std::make_unique<Statement>(
      db, "SELECT digest, outcome FROM vouchers WHERE server=?1 AND company=?2 AND voucher_id=?3",
      where_);
  find_->Bind(1, server_).Bind(2, company_);
  seen_ = std::make_unique<Statement>(
      db, "INSERT INTO seen(voucher_id, row) VALUES(?1, ?2) ON CONFLICT DO NOTHING", where_);
  first_seen_ = std::make_unique<Statement>(db, "SELECT row FROM seen WHERE voucher_id=?1", where_);
  spool_ = std::make_unique<Statement>(
      db, "INSERT INTO spool(row, voucher_id, digest, message) VALUES(?1, ?2, ?3, ?4)", where_);
  spooled_ = std::make_unique<Statement>(
      db,
      "SELECT seq, row, voucher_id, digest, message FROM spool WHERE seq > ?1 ORDER BY seq "
      "LIMIT ?2",
      where_);
  if (!read_only) {
    record_ = std::make_unique<Statement>(
        db,
        "INSERT INTO vouchers(server, company, voucher_id, digest, outcome, reason, recorded)"
        " VALUES(?1, ?2, ?3, ?4, ?5, ?6, strftime('%Y-%m-%dT%H:%M:%SZ','now'))"
        " ON CONFLICT(server, company, voucher_id) DO UPDATE SET digest=excluded.digest,"
        " outcome=excluded.outcome, reason=excluded.reason, recorded=excluded.recorded",
        where_);
  }
}

Journal::~Journal() = default;

void Journal::Execute(const char* sql) {
  char* message = nullptr;
  if (sqlite3_exec(db_.get(), sql, nullptr, nullptr, &message) != SQLITE_OK) {
    const std::string reason = message ? message : "unknown failure";
    sqlite3_free(message);
    throw Failure(FailureNumber::kFile,
                  "the sync journal " + where_ + " cannot be used: " + reason);
  }
}

std::optional<Journal::Entry> Journal::Find(const std::string& voucher_id) {
  find_->Bind(3, voucher_id);
  std::optional<Entry> entry;
  if (find_->Step()) {
    entry = Entry{find_->Text(0), find_->Text(1) == "accepted"};
  }
  find_->Rewind();
  return entry;
}

void Journal::Begin() {
  Execute("BEGIN");
}

void Journal::Commit() {
  Execute("COMMIT");
}

std::optional<long> Journal::Seen(const std::string& voucher_id, long row) {
  seen_->Bind(1, voucher_id).Bind(2, static_cast<std::int64_t>(row));
  seen_->Step();
  seen_->Reset();
  if (sqlite3_changes(db_.get()) > 0) {
    return std::nullopt;
  }
  first_seen_->Bind(1, voucher_id);
  std::optional<long> first;
  if (first_seen_->Step()) {
    first = static_cast<long>(first_seen_->Int(0));
  }
  first_seen_->Reset();
  return first;
}

void Journal::Spool(long row, const std::string& voucher_id, const std::string& digest,
                    const std::string& message) {
  spool_->Bind(1, static_cast<std::int64_t>(row))
      .Bind(2, voucher_id)
      .Bind(3, digest)
      .Bind(4, message);
  spool_->Step();
  spool_->Reset();
}

std::vector<Spooled> Journal::SpooledAfter(std::int64_t seq, int limit) {
  spooled_->Bind(1, seq).Bind(2, static_cast<std::int64_t>(limit));
  std::vector<Spooled> found;
  while (spooled_->Step()) {
    found.push_back({spooled_->Int(0), static_cast<long>(spooled_->Int(1)), spooled_->Text(2),
                     spooled_->Text(3), spooled_->Text(4)});
  }
  spooled_->Reset();
  return found;
}

void Journal::Record(const std::vector<const Spooled*>& vouchers, bool accepted,
                     const std::string& reason) {
  if (!record_) {
    return;
  }
  Execute("BEGIN IMMEDIATE");
  try {
    for (const Spooled* voucher : vouchers) {
      record_->Bind(1, server_)
          .Bind(2, company_)
          .Bind(3, voucher->voucher_id)
          .Bind(4, voucher->digest)
          .Bind(5, accepted ? "accepted" : "rejected")
          .Bind(6, reason);
      record_->Step();
      record_->Reset();
    }
    Execute("COMMIT");
  } catch (...) {
    sqlite3_exec(db_.get(), "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
}

}  // namespace lirvo::transfer::detail
