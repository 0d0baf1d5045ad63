// The sales database reader: an Access database (.mdb or .accdb) opened read-only through libmdb,
// with the two statement shapes the transfer runs and a forward-only recordset over the result.
// libmdb's header (and glib with it) stays inside the implementation.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lirvo::transfer {

// A column value in its text form; no value for a null.
//   Text, Memo                            as stored, UTF-8
//   Date/Time                             YYYYMMDD
//   Currency, Double, Single, Numeric     shortest decimal that reads back to the same value,
//                                         "." as decimal point, no trailing zeros ("600", "1.2")
//   Byte, Integer, Long                   decimal
//   Yes/No                                "Yes" or "No"
using FieldValue = std::optional<std::string>;

class Recordset;
namespace detail {
struct DatabaseHandle;
}

class SalesDatabase {
 public:
  // Opens `file` read-only. Throws modTally::Failure (kDatabase), naming the file, when it is
  // missing, is not a regular file, cannot be read, is not an Access database, or is damaged.
  // Every read is first tried in a child process, so a damaged file that would crash libmdb or
  // keep it reading for ever gives a failure instead.
  explicit SalesDatabase(const std::filesystem::path& file);
  ~SalesDatabase();
  SalesDatabase(SalesDatabase&&) noexcept;
  SalesDatabase& operator=(SalesDatabase&&) noexcept;
  SalesDatabase(const SalesDatabase&) = delete;
  SalesDatabase& operator=(const SalesDatabase&) = delete;

  const std::filesystem::path& path() const;

  // Runs "Select DISTINCT <column> from <table>" or "Select * from <table>" (keywords and names
  // case-insensitive, names optionally in [brackets]). DISTINCT compares text case-insensitively
  // and gives the values in ascending order, a null first; "Select *" gives the rows in the
  // table's own order. Throws modTally::Failure (kDatabase) for any other statement, a missing
  // table or a missing column, naming the file and the table or column. The recordset stays
  // valid after this object is gone.
  Recordset Open(std::string_view statement);

 private:
  // Open without the trial run in a child process.
  Recordset OpenDirect(std::string_view statement);

  std::shared_ptr<detail::DatabaseHandle> handle_;
};

// A forward-only result. The row count is known as soon as it is open.
class Recordset {
 public:
  ~Recordset();
  Recordset(Recordset&&) noexcept;
  Recordset& operator=(Recordset&&) noexcept;
  Recordset(const Recordset&) = delete;
  Recordset& operator=(const Recordset&) = delete;

  // The number of rows in the result.
  long RecordCount() const;
  // True once the reading has moved past the last row (at once for an empty result).
  bool AtEnd() const;
  // The result's column names, in table order.
  std::vector<std::string> FieldNames() const;
  // The value of column `name` (case-insensitive) in the current row. Throws modTally::Failure
  // when the result has no such column (kDatabase), when there is no current row (kDatabase), or
  // when the column's type has no text form (kValue, e.g. an OLE object).
  const FieldValue& Field(std::string_view name) const;
  // Moves to the next row. Throws modTally::Failure when already at the end.
  void MoveNext();

 private:
  friend class SalesDatabase;
  struct State;
  explicit Recordset(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

}  // namespace lirvo::transfer
