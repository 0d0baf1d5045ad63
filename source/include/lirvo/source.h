// Where rows come from: a source database named by a URI (an SQLite file, an ODBC data source or
// an Access file), its tables and views, their columns and row counts, and their rows streamed
// one at a time as text.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <lirvo/modTally.h>

namespace lirvo::source {

// Any failure of a source: a URI that does not parse, a database that cannot be opened or read,
// a table or column that does not fit the layout. The message names the source (never its
// password), the table and, where it applies, the row and the column.
class Error : public modTally::Failure {
 public:
  explicit Error(const std::string& message)
      : Failure(modTally::FailureKind::Database, modTally::FailureNumber::kDatabase, message) {}
};

// The three forms of --source.
enum class Scheme { kSqlite, kOdbc, kAccess };

struct Uri {
  Scheme scheme = Scheme::kSqlite;
  std::string target;  // the path, or the ODBC connection string
};

// `sqlite:PATH`, `odbc:CONNECTION-STRING` (`odbc:DSN=NAME`) or `access:PATH`, the scheme
// case-insensitive. Throws Error naming `text` and the three forms for anything else, or an empty
// path or connection string.
Uri ParseUri(std::string_view text);

// The login an ODBC source connects with (its UID and PWD); the other forms take none.
struct Login {
  std::string user;
  std::string password;
};

// A column value as text; nothing for NULL, so an empty text stays distinct from it.
using Value = std::optional<std::string>;

// The rows of one table, read one at a time: only the current row is held.
class Rows {
 public:
  virtual ~Rows() = default;
  Rows(const Rows&) = delete;
  Rows& operator=(const Rows&) = delete;

  // Moves to the next row: false when there is none. Throws Error naming the source, the table
  // and the row.
  virtual bool Next() = 0;

  // The table as the source spells it.
  const std::string& table() const { return table_; }
  // The column names, in the table's order.
  const std::vector<std::string>& Columns() const { return columns_; }
  // The index of `column` (compared without regard to ASCII case); nothing when it is absent.
  std::optional<std::size_t> Find(std::string_view column) const;
  // The current row's values, in column order.
  const std::vector<Value>& Values() const { return values_; }
  // The current row's value of `column`. Throws Error naming the table when it has no such
  // column.
  const Value& Get(std::string_view column) const;
  // The current row's number, from 1.
  std::int64_t RowNumber() const { return row_number_; }

 protected:
  Rows(std::string table, std::vector<std::string> columns);
  std::string table_;
  std::vector<std::string> columns_;
  std::vector<Value> values_;
  std::int64_t row_number_ = 0;
};

// An inclusive range of dates.
struct DateRange {
  std::chrono::year_month_day from;
  std::chrono::year_month_day to;
  bool Contains(std::chrono::year_month_day day) const { return from <= day && day <= to; }
};

// A date as sources write it: "YYYYMMDD" (Access), "YYYY-MM-DD" (SQL), either followed by a time
// ("2016-04-01 00:00:00"). Nothing for anything else or a day that does not exist.
std::optional<std::chrono::year_month_day> ParseDate(std::string_view text);

// An open source database. Not thread-safe.
class Source {
 public:
  virtual ~Source() = default;
  // How messages name it: its URI, without UID or PWD.
  virtual const std::string& name() const = 0;
  // Its tables and views, as it spells them. Throws Error.
  virtual std::vector<std::string> Tables() = 0;
  // The columns of `table` (spelt as Tables() gives it). Throws Error.
  virtual std::vector<std::string> Columns(const std::string& table) = 0;
  // The rows `table` holds. Throws Error.
  virtual std::int64_t RowCount(const std::string& table) = 0;
  // The rows of `table`, streamed. Throws Error, naming the source and the table (the login's
  // reason when it may not read it).
  virtual std::unique_ptr<Rows> Read(const std::string& table) = 0;
  // Whether the Rows of two tables can be read at once, each moved on in turn.
  virtual bool ReadsTablesAtOnce() const { return false; }

  // The table or view named `name`, compared without regard to ASCII case, as the source spells
  // it; nothing when it has none.
  std::optional<std::string> FindTable(std::string_view name);
  // The rows of `table` whose `date_column` lies in `range`. The range is applied as the rows
  // come rather than in SQL, so it works the same on every source whatever type the column has.
  // A row whose date does not read as one is passed on, for the row's own checks to reject.
  std::unique_ptr<Rows> ReadDated(const std::string& table, std::string_view date_column,
                                  const DateRange& range);
};

// Opens the source `uri` names, read-only. `login` is used by ODBC sources only. Throws Error
// when it cannot be opened: a missing file, an unreachable database, a wrong password (with the
// driver's reason and never the password).
std::unique_ptr<Source> Open(const Uri& uri, const Login& login = {});

// `source` with every table but `table` hidden from Tables() and FindTable: an Access file read
// as the demo reads it, its SalesMst alone, whatever else the file holds.
std::unique_ptr<Source> OnlyTable(std::unique_ptr<Source> source, std::string table);

}  // namespace lirvo::source
