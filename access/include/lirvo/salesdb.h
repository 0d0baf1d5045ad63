// The sales database reader: an Access database (.mdb or .accdb) read through libmdb, with the two
// statement shapes the transfer runs and a forward-only recordset over the result.
//
// libmdb trusts the file: one changed byte can make it read out of bounds or loop for ever. So it
// never runs in this process: each query is read by the small program lirvo-mdb-reader (built
// and installed beside the executables), which streams the rows over a pipe as the recordset asks
// for them. A reader that crashes, ends early or sends nothing for 15 s becomes a failure naming
// the file, the table and the row; what libmdb writes on standard error never reaches the
// terminal (its first lines end the failure's description). Two environment variables, for tests
// and unusual installs: LIRVO_MDB_READER names the reader program to start instead, and
// LIRVO_MDB_READER_TIMEOUT the seconds it may go without sending anything (see
// access/src/reader_process.h).
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lirvo::access {

// A column value in its text form; no value for a null.
//   Text, Memo                            as stored, UTF-8
//   Date/Time                             YYYYMMDD
//   Currency, Double, Single, Numeric     shortest decimal that reads back to the same value,
//                                         "." as decimal point, no trailing zeros ("600", "1.2")
//   Byte, Integer, Long                   decimal
//   Yes/No                                "Yes" or "No"
//   Replication ID (GUID)                 {6F9619FF-8B86-D011-B42D-00C04FC964FF}, as Access
//                                         shows it (libmdb's own form drops the last dash)
using FieldValue = std::optional<std::string>;

class Recordset;
namespace detail {
struct DatabaseHandle;
}

class SalesDatabase {
 public:
  // Opens `file` read-only. Throws modTally::Failure (kDatabase), naming the file, when it is
  // missing, is not a regular file, cannot be read, is not an Access database, or is damaged.
  // The header is checked here before the reader is started for the list of tables.
  explicit SalesDatabase(const std::filesystem::path& file);
  ~SalesDatabase();
  SalesDatabase(SalesDatabase&&) noexcept;
  SalesDatabase& operator=(SalesDatabase&&) noexcept;
  SalesDatabase(const SalesDatabase&) = delete;
  SalesDatabase& operator=(const SalesDatabase&) = delete;

  const std::filesystem::path& path() const;
  // The database's tables, as its catalog spells them.
  const std::vector<std::string>& Tables() const;

  // Runs "Select DISTINCT <column> from <table>" or "Select * from <table>" (keywords and names
  // case-insensitive, names optionally in [brackets]). "Select *" gives the rows in the table's
  // own order, read as the recordset moves (memory does not grow with the table). DISTINCT reads
  // the whole column first and gives each value once, a null first, then in ascending order:
  // numbers and dates by value; text with ASCII letters compared without regard to case (values
  // that differ only so are one, spelt as first met in the table), and otherwise by its UTF-8
  // bytes, so accented, Devanagari or Gujarati letters sort after ASCII, by code point, and
  // their capitals are not folded. Throws modTally::Failure (kDatabase) for any other statement,
  // a missing table or a missing column, naming the file and the table or column. The recordset
  // stays valid after this object is gone.
  Recordset Open(std::string_view statement);

 private:
  std::shared_ptr<detail::DatabaseHandle> handle_;
};

// A forward-only result. The row count is known as soon as it is open. Destroying it before the
// end stops its reader.
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
  // The same by the column's place, as FieldIndex gives it (for a column read on every row).
  const FieldValue& Field(std::size_t index) const;
  // The place of column `name` (case-insensitive); throws as Field does when there is none.
  std::size_t FieldIndex(std::string_view name) const;
  // The number of the current row in the result, from 1; past the end one more than the rows.
  long RowNumber() const;
  // Moves to the next row. Throws modTally::Failure when already at the end, and (kDatabase)
  // when the reader fails on the way, naming the file, the table and the row.
  void MoveNext();

 private:
  friend class SalesDatabase;
  struct State;
  explicit Recordset(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

}  // namespace lirvo::access
