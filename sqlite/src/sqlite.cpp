#include <lirvo/sqlite.h>

#include <sqlite3.h>

#include <charconv>
#include <cmath>
#include <cstdlib>

namespace lirvo::sqlite {

namespace {

// A value's text (a BLOB's bytes: the database is UTF-8, nothing is converted) where SQLite holds
// it; nothing for NULL. Read through the value, so that SQLite finds the column once.
std::optional<std::string_view> TextOf(sqlite3_value* value) {
  const unsigned char* text = sqlite3_value_text(value);
  if (text == nullptr) {
    return std::nullopt;
  }
  return std::string_view(reinterpret_cast<const char*>(text),
                          static_cast<std::size_t>(sqlite3_value_bytes(value)));
}

// A REAL that is a whole number of hundredths (an amount in rupees and paise, the commonest REAL
// of all), of fewer than 15 significant digits, written as RealText writes it without the general
// conversion: the double nearest to n/100 is the one the decimal n/100 reads back as. Nothing
// for any other value.
std::optional<std::string_view> HundredthsText(double real, double magnitude,
                                               Statement::Digits& digits) {
  if (magnitude >= 1e12) {
    return std::nullopt;
  }
  const long long hundredths = std::llround(real * 100);
  if (hundredths == 0 || static_cast<double>(hundredths) / 100 != real) {
    return std::nullopt;
  }
  const unsigned long long whole = static_cast<unsigned long long>(std::llabs(hundredths));
  char* at = digits.data();
  if (hundredths < 0) {
    *at++ = '-';
  }
  at = std::to_chars(at, digits.data() + digits.size(), whole / 100).ptr;
  const auto cents = static_cast<char>(whole % 100);
  *at++ = '.';
  *at++ = static_cast<char>('0' + cents / 10);
  if (cents % 10 != 0) {
    *at++ = static_cast<char>('0' + cents % 10);
  }
  return std::string_view(digits.data(), static_cast<std::size_t>(at - digits.data()));
}

// A REAL written as SQLite writes it (printf's "%!.15g": at most 15 significant digits, no
// exponent from 1e-4 to below 1e15, ".0" after a whole number), when the shortest decimal that
// reads back as the same double has at most 15 significant digits and lies in that range: every
// amount, rate and quantity of a business database. The two texts are then the same, because a
// decimal of at most 15 significant digits is what its double gives back rounded to 15 digits.
// Nothing for any other value, which SQLite then writes itself.
std::optional<std::string_view> RealText(double real, Statement::Digits& digits) {
  const double magnitude = std::fabs(real);
  if (!(magnitude >= 1e-4 && magnitude < 1e15)) {  // NaN fails both
    return std::nullopt;
  }
  if (const std::optional<std::string_view> text = HundredthsText(real, magnitude, digits)) {
    return text;
  }
  char* const first = digits.data();
  const auto [end, error] =
      std::to_chars(first, first + digits.size() - 2, real, std::chars_format::fixed);
  if (error != std::errc()) {
    return std::nullopt;
  }
  int significant = 0;
  bool point = false;
  for (const char* at = first; at != end; ++at) {
    if (*at == '.') {
      point = true;
    } else if (*at != '-' && (significant > 0 || *at != '0')) {
      ++significant;
    }
  }
  if (significant > 15) {
    return std::nullopt;
  }
  std::size_t size = static_cast<std::size_t>(end - first);
  if (!point) {
    digits[size++] = '.';
    digits[size++] = '0';
  }
  return std::string_view(first, size);
}

}  // namespace

void Statement::Finalize::operator()(sqlite3_stmt* statement) const {
  sqlite3_finalize(statement);
}

Statement::Statement(const Database& db, std::string_view sql) : db_(&db) {
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db.db_.get(), sql.data(), static_cast<int>(sql.size()), &raw, nullptr) !=
      SQLITE_OK) {
    db.Fail();
  }
  statement_.reset(raw);
}

Statement& Statement::Bind(int index, std::string_view text) {
  if (sqlite3_bind_text64(statement_.get(), index, text.data(), text.size(), SQLITE_TRANSIENT,
                          SQLITE_UTF8) != SQLITE_OK) {
    db_->Fail();
  }
  return *this;
}

Statement& Statement::BindUncopied(int index, std::string_view text) {
  if (sqlite3_bind_text64(statement_.get(), index, text.data(), text.size(), SQLITE_STATIC,
                          SQLITE_UTF8) != SQLITE_OK) {
    db_->Fail();
  }
  return *this;
}

Statement& Statement::BindUncopiedBlob(int index, std::string_view bytes) {
  if (sqlite3_bind_blob64(statement_.get(), index, bytes.data(), bytes.size(), SQLITE_STATIC) !=
      SQLITE_OK) {
    db_->Fail();
  }
  return *this;
}

Statement& Statement::Bind(int index, std::int64_t number) {
  if (sqlite3_bind_int64(statement_.get(), index, number) != SQLITE_OK) {
    db_->Fail();
  }
  return *this;
}

Statement& Statement::Bind(int index, const std::optional<std::string>& text) {
  if (text) {
    return Bind(index, std::string_view(*text));
  }
  if (sqlite3_bind_null(statement_.get(), index) != SQLITE_OK) {
    db_->Fail();
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
  db_->Fail();
}

void Statement::Run() {
  while (Step()) {
  }
  Reset();
}

std::string Statement::Text(int column) const {
  const std::optional<std::string_view> text = View(column);
  return text ? std::string(*text) : std::string();
}

std::optional<std::string> Statement::OptionalText(int column) const {
  const std::optional<std::string_view> text = View(column);
  return text ? std::optional<std::string>(std::in_place, *text) : std::nullopt;
}

std::optional<std::string_view> Statement::View(int column) const {
  return TextOf(sqlite3_column_value(statement_.get(), column));
}

std::optional<std::string_view> Statement::View(int column, Digits& digits) const {
  sqlite3_value* const value = sqlite3_column_value(statement_.get(), column);
  const int type = sqlite3_value_type(value);
  if (type == SQLITE_FLOAT) {
    if (const std::optional<std::string_view> text =
            RealText(sqlite3_value_double(value), digits)) {
      return text;
    }
  }
  if (type != SQLITE_INTEGER) {
    return TextOf(value);
  }
  const std::to_chars_result written =
      std::to_chars(digits.data(), digits.data() + digits.size(), sqlite3_value_int64(value));
  return std::string_view(digits.data(), static_cast<std::size_t>(written.ptr - digits.data()));
}

std::int64_t Statement::Int(int column) const {
  return sqlite3_column_int64(statement_.get(), column);
}

int Statement::Columns() const {
  return sqlite3_column_count(statement_.get());
}

void Statement::Reset() {
  sqlite3_reset(statement_.get());
  sqlite3_clear_bindings(statement_.get());
}

void Statement::Rewind() {
  sqlite3_reset(statement_.get());
}

void Database::Close::operator()(sqlite3* db) const {
  sqlite3_close_v2(db);
}

Database::Database(const std::string& path, bool read_only)
    : Database(path, OpenOptions{read_only, 5000, {}, {}}) {}

Database::Database(const std::string& path, OpenOptions options)
    : path_(path), options_(std::move(options)) {
  if (options_.name.empty()) {
    options_.name = path;
  }
  sqlite3* raw = nullptr;
  const int flags =
      (options_.read_only ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE) |
      SQLITE_OPEN_NOMUTEX;
  const int result = sqlite3_open_v2(path.c_str(), &raw, flags, nullptr);
  db_.reset(raw);
  if (result != SQLITE_OK) {
    Fail("cannot open ", raw != nullptr ? sqlite3_errmsg(raw) : "out of memory");
  }
  sqlite3_extended_result_codes(raw, 1);
  // Another connection (a test or a second program reading the file) may hold a lock a moment.
  sqlite3_busy_timeout(raw, options_.busy_timeout_ms);
}

void Database::Fail(std::string_view action, std::string_view reason) const {
  const std::string message = std::string(action) + options_.name + ": " + std::string(reason);
  if (options_.raise) {
    options_.raise(message);
  }
  throw Error(message);
}

void Database::Fail() const {
  Fail({}, db_ != nullptr ? sqlite3_errmsg(db_.get()) : "out of memory");
}

bool Database::InTransaction() const {
  return sqlite3_get_autocommit(db_.get()) == 0;
}

void Database::Execute(std::string_view sql) {
  char* message = nullptr;
  const std::string text(sql);
  if (sqlite3_exec(db_.get(), text.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
    const std::string reason = message != nullptr ? message : "unknown error";
    sqlite3_free(message);
    Fail({}, reason);
  }
}

Statement& Database::Query(std::string_view sql) {
  auto found = statements_.find(std::string(sql));
  if (found == statements_.end()) {
    found = statements_.emplace(std::string(sql), std::make_unique<Statement>(*this, sql)).first;
  }
  found->second->Reset();
  return *found->second;
}

std::int64_t Database::LastInsertId() const {
  return sqlite3_last_insert_rowid(db_.get());
}

int Database::Changes() const {
  return sqlite3_changes(db_.get());
}

Transaction::Transaction(Database& db, std::string_view begin) : db_(db) {
  db_.Execute(begin);
}

Transaction::~Transaction() {
  if (!done_) {
    try {
      db_.Execute("ROLLBACK");
    } catch (...) {
      // SQLite may already have rolled back (after an I/O error); nothing is left to undo.
    }
  }
}

void Transaction::Commit() {
  db_.Execute("COMMIT");
  done_ = true;
}

}  // namespace lirvo::sqlite
