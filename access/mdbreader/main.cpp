// lirvo-mdb-reader: reads an Access database with libmdb on behalf of the library's
// SalesDatabase, in a process of its own, so that a damaged file that makes libmdb crash or loop
// costs this process and not the program. It writes frames (access/src/frames.h) on standard
// output; libmdb's own complaints go to standard error, which the library keeps off the terminal.
//
//   lirvo-mdb-reader tables FILE                  the names of the tables
//   lirvo-mdb-reader rows FILE TABLE              the header, then every row in the table's order
//   lirvo-mdb-reader distinct FILE TABLE COLUMN   the header (that column), then each value once:
//                                                 text compared case-insensitively for ASCII
//                                                 letters (the first spelling met is kept), in
//                                                 ascending order, a null first
#include <sys/prctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include <lirvo/modTally.h>
#include <lirvo/text.h>

#include "../src/frames.h"
#include "values.h"

namespace {

namespace frames = lirvo::access::frames;
namespace FailureNumber = modTally::FailureNumber;
using lirvo::mdbreader::Cell;
using lirvo::mdbreader::ColumnInfo;
using lirvo::mdbreader::SortKey;
using lirvo::mdbreader::Stored;
using Clock = std::chrono::steady_clock;

struct MdbCloser {
  void operator()(MdbHandle* mdb) const { mdb_close(mdb); }
};
struct TableFreer {
  void operator()(MdbTableDef* table) const { mdb_free_tabledef(table); }
};
using TablePtr = std::unique_ptr<MdbTableDef, TableFreer>;

// A failure to report to the library as a kError frame.
using Stop = modTally::Failure;

std::string Quoted(std::string_view text) {
  return "\"" + std::string(text) + "\"";
}

// Frames collected and written to standard output in blocks: when a block is full, and at least
// every kQuiet while rows are coming, so the library never waits long for what is ready.
class Output {
 public:
  static constexpr std::size_t kBlock = 32 * 1024;
  static constexpr auto kQuiet = std::chrono::milliseconds(200);

  std::string& buffer() { return buffer_; }

  void Flush() {
    std::size_t done = 0;
    while (done < buffer_.size()) {
      const ssize_t wrote = write(STDOUT_FILENO, buffer_.data() + done, buffer_.size() - done);
      if (wrote < 0 && errno == EINTR) {
        continue;
      }
      if (wrote <= 0) {
        std::_Exit(3);  // the library has gone: nobody to tell
      }
      done += static_cast<std::size_t>(wrote);
    }
    buffer_.clear();
    last_flush_ = Clock::now();
  }

  // After each row: writes when the block is full, or (checked every 64 rows) when the last
  // write was longer ago than kQuiet.
  void RowDone() {
    if (buffer_.size() >= kBlock || (++rows_ % 64 == 0 && Clock::now() - last_flush_ > kQuiet)) {
      Flush();
    }
  }

  void Empty(frames::Kind kind) { frames::FinishFrame(buffer_, frames::StartFrame(buffer_, kind)); }

 private:
  std::string buffer_;
  unsigned rows_ = 0;
  Clock::time_point last_flush_ = Clock::now();
};

struct Database {
  std::string file;
  std::unique_ptr<MdbHandle, MdbCloser> mdb;

  std::string Where(std::string_view table) const {
    return "table " + Quoted(table) + " of " + file;
  }
};

Database Open(const std::string& file) {
  Database db{file, std::unique_ptr<MdbHandle, MdbCloser>(mdb_open(file.c_str(), MDB_NOFLAGS))};
  if (!db.mdb) {
    throw Stop(FailureNumber::kDatabase, "cannot open " + file + ": not an Access database");
  }
  if (mdb_read_catalog(db.mdb.get(), MDB_TABLE) == nullptr) {
    throw Stop(FailureNumber::kDatabase, "cannot read the list of tables in " + file +
                                             ": the file is damaged or not an Access database");
  }
  return db;
}

std::vector<MdbCatalogEntry*> Tables(const Database& db) {
  std::vector<MdbCatalogEntry*> tables;
  const GPtrArray* catalog = db.mdb->catalog;
  for (guint i = 0; catalog != nullptr && i < catalog->len; ++i) {
    auto* entry = static_cast<MdbCatalogEntry*>(g_ptr_array_index(catalog, i));
    if (entry->object_type == MDB_TABLE) {
      tables.push_back(entry);
    }
  }
  return tables;
}

// One table read forward with libmdb's row cracker, so that a null stays apart from an empty
// text and values are taken from their stored bytes.
class TableReader {
 public:
  TableReader(const Database& db, std::string_view name) : db_(db) {
    for (MdbCatalogEntry* entry : Tables(db)) {
      if (lirvo::text::EqualsNoCase(entry->object_name, name)) {
        name_ = entry->object_name;
        table_.reset(mdb_read_table(entry));
        break;
      }
    }
    if (name_.empty()) {
      throw Stop(FailureNumber::kDatabase, db.file + " has no table " + Quoted(name));
    }
    if (!table_ || mdb_read_columns(table_.get()) == nullptr) {
      throw Stop(FailureNumber::kDatabase,
                 "cannot read the columns of " + db.Where(name_) + ": the file is damaged");
    }
    for (guint i = 0; i < table_->columns->len; ++i) {
      const auto* column = static_cast<MdbColumn*>(g_ptr_array_index(table_->columns, i));
      columns_.push_back({column->name, column->col_type, column->col_scale, column->col_prec});
    }
    mdb_rewind_table(table_.get());
    // Room for every column libmdb may crack, made once: clearing it for every row cost more
    // than reading the row.
    fields_.resize(MDB_MAX_COLS);
  }

  const std::vector<ColumnInfo>& columns() const { return columns_; }
  const std::string& name() const { return name_; }
  unsigned long count() const { return table_->num_rows; }
  MdbHandle* mdb() const { return db_.mdb.get(); }

  // Reads the next row; false at the end of the table. The cracked fields are then `fields()`.
  bool Next() {
    if (mdb_fetch_row(table_.get()) == 0) {
      // The table definition counts the rows: reading that ends early means lost pages.
      if (read_ < table_->num_rows) {
        throw Stop(FailureNumber::kDatabase, "cannot read all rows of " + db_.Where(name_) +
                                                 ": the file is damaged (" + std::to_string(read_) +
                                                 " of its " + std::to_string(table_->num_rows) +
                                                 " rows could be read)");
      }
      return false;
    }
    ++read_;
    // More rows than the definition counts: the pages chain round in a circle.
    if (read_ > table_->num_rows) {
      throw Stop(FailureNumber::kDatabase, "cannot read " + db_.Where(name_) +
                                               ": the file is damaged (more rows than the " +
                                               std::to_string(table_->num_rows) + " it holds)");
    }
    int start = 0;
    std::size_t length = 0;
    if (mdb_find_row(mdb(), static_cast<int>(table_->cur_row) - 1, &start, &length) != 0) {
      throw Damaged();
    }
    // The row offset's top bits are flags (deleted, overflow); libmdb masks them the same way.
    constexpr int kOffsetMask = 0x1fff;
    const int cracked = mdb_crack_row(table_.get(), start & kOffsetMask, length, fields_.data());
    if (cracked < 0 || cracked > MDB_MAX_COLS) {
      throw Damaged();
    }
    field_count_ = static_cast<std::size_t>(cracked);
    for (std::size_t i = 0; i < field_count_; ++i) {
      if (static_cast<std::size_t>(fields_[i].colnum) >= columns_.size()) {
        throw Damaged();
      }
    }
    return true;
  }

  std::size_t field_count() const { return field_count_; }
  const MdbField& field(std::size_t i) const { return fields_[i]; }
  unsigned long row() const { return read_; }
  std::string Where() const { return db_.Where(name_); }

  Cell CellOf(const MdbField& field, bool keyed) const {
    std::optional<Cell> cell = lirvo::mdbreader::ReadCell(mdb(), ColumnOf(field), field, keyed);
    if (!cell) {
      throw DamagedValue(field);
    }
    return std::move(*cell);
  }

  // Appends the field's text to `out`; false for a null.
  bool AppendValue(const MdbField& field, std::string& out) const {
    switch (lirvo::mdbreader::AppendValue(out, mdb(), ColumnOf(field), field)) {
      case Stored::kValue:
        return true;
      case Stored::kNull:
        return false;
      case Stored::kDamaged:
        break;
    }
    throw DamagedValue(field);
  }

 private:
  const ColumnInfo& ColumnOf(const MdbField& field) const {
    return columns_[static_cast<std::size_t>(field.colnum)];
  }

  Stop DamagedValue(const MdbField& field) const {
    return Stop(FailureNumber::kValue, "the value of column " + Quoted(ColumnOf(field).name) +
                                           " in row " + std::to_string(read_) + " of " +
                                           db_.Where(name_) + " is damaged");
  }

  Stop Damaged() const {
    return Stop{FailureNumber::kDatabase, "cannot read row " + std::to_string(read_) + " of " +
                                              db_.Where(name_) + ": the file is damaged"};
  }

  const Database& db_;
  std::string name_;
  TablePtr table_;
  std::vector<ColumnInfo> columns_;
  std::vector<MdbField> fields_;
  std::size_t field_count_ = 0;
  unsigned long read_ = 0;
};

void WriteHeader(Output& out, unsigned long count, const std::vector<ColumnInfo>& columns) {
  std::string& b = out.buffer();
  const std::size_t at = frames::StartFrame(b, frames::kHeader);
  frames::AppendField(b, std::to_string(count));
  for (const ColumnInfo& column : columns) {
    frames::AppendField(b, column.name);
    if (const char* what = lirvo::mdbreader::UnreadableTypeName(column.type)) {
      frames::AppendField(b, what);
    } else {
      frames::AppendNull(b);
    }
  }
  frames::FinishFrame(b, at);
}

void ListTables(Output& out, const Database& db) {
  std::string& b = out.buffer();
  const std::size_t at = frames::StartFrame(b, frames::kTables);
  for (const MdbCatalogEntry* entry : Tables(db)) {
    frames::AppendField(b, entry->object_name);
  }
  frames::FinishFrame(b, at);
}

void SendRows(Output& out, TableReader& table) {
  WriteHeader(out, table.count(), table.columns());
  out.Flush();
  const std::size_t width = table.columns().size();
  // Each column's text, kept from row to row so that its room is made once.
  std::vector<std::string> values(width);
  std::vector<char> present(width);
  while (table.Next()) {
    std::fill(present.begin(), present.end(), 0);
    for (std::size_t i = 0; i < table.field_count(); ++i) {
      const MdbField& field = table.field(i);
      const auto column = static_cast<std::size_t>(field.colnum);
      if (lirvo::mdbreader::UnreadableTypeName(table.columns()[column].type) == nullptr) {
        values[column].clear();
        present[column] = table.AppendValue(field, values[column]) ? 1 : 0;
      }
    }
    std::string& b = out.buffer();
    const std::size_t at = frames::StartFrame(b, frames::kRow);
    for (std::size_t column = 0; column < width; ++column) {
      present[column] != 0 ? frames::AppendField(b, values[column]) : frames::AppendNull(b);
    }
    frames::FinishFrame(b, at);
    out.RowDone();
  }
}

void SendDistinct(Output& out, TableReader& table, std::string_view name) {
  const std::vector<ColumnInfo>& all = table.columns();
  std::size_t wanted = all.size();
  for (std::size_t i = 0; i < all.size(); ++i) {
    if (lirvo::text::EqualsNoCase(all[i].name, name)) {
      wanted = i;
      break;
    }
  }
  if (wanted == all.size()) {
    throw Stop(FailureNumber::kDatabase, table.Where() + " has no column " + Quoted(name));
  }
  const ColumnInfo& column = all[wanted];
  if (const char* what = lirvo::mdbreader::UnreadableTypeName(column.type)) {
    throw Stop(FailureNumber::kValue, "column " + Quoted(column.name) + " of " + table.Where() +
                                          " holds " + what + ", which have no text form");
  }
  // A value stored with the same bytes as one already read has the same text, so only new byte
  // strings are turned into text (most rows repeat a party, an item or a unit). Text and
  // fixed-size values only: a memo's bytes point elsewhere, a Yes/No lives in the null mask.
  const bool by_bytes = column.type == MDB_TEXT || lirvo::mdbreader::FixedSize(column.type) > 0;
  const auto page_size = static_cast<std::size_t>(table.mdb()->fmt->pg_size);
  std::unordered_set<std::string> stored;
  std::map<SortKey, std::optional<std::string>> values;
  while (table.Next()) {
    if (table.row() % 4096 == 0) {
      out.Empty(frames::kProgress);  // a large table takes a while: the library waits on
      out.Flush();
    }
    for (std::size_t i = 0; i < table.field_count(); ++i) {
      const MdbField& field = table.field(i);
      if (static_cast<std::size_t>(field.colnum) != wanted) {
        continue;
      }
      if (by_bytes && field.is_null == 0 && field.start >= 0 && field.siz >= 0 &&
          static_cast<std::size_t>(field.start) + static_cast<std::size_t>(field.siz) <=
              page_size &&
          !stored
               .emplace(reinterpret_cast<const char*>(table.mdb()->pg_buf) + field.start,
                        static_cast<std::size_t>(field.siz))
               .second) {
        break;
      }
      Cell cell = table.CellOf(field, true);
      values.try_emplace(std::move(cell.key), std::move(cell.text));
      break;
    }
  }
  WriteHeader(out, values.size(), {column});
  for (const auto& [key, value] : values) {
    std::string& b = out.buffer();
    const std::size_t at = frames::StartFrame(b, frames::kRow);
    value ? frames::AppendField(b, *value) : frames::AppendNull(b);
    frames::FinishFrame(b, at);
    out.RowDone();
  }
}

}  // namespace

#if defined(__SANITIZE_ADDRESS__)
// In the sanitizer build, libmdb crashing on a damaged file must end this process by the signal,
// as it does in the ordinary build, rather than in the sanitizer's report and exit status 1.
extern "C" const char* __asan_default_options() {
  return "handle_segv=0:handle_sigbus=0:handle_sigfpe=0:handle_sigill=0:handle_abort=0";
}
#endif

namespace {

int Usage() {
  std::fputs(
      "usage: lirvo-mdb-reader tables FILE | rows FILE TABLE | distinct FILE TABLE COLUMN\n"
      "Reads an Access database for the Lirvo library and writes it as frames on stdout.\n",
      stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  // A reader stuck inside libmdb must not outlive the program that waits for it.
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  const std::vector<std::string_view> args(argv + 1, argv + argc);
  const bool known = (args.size() == 2 && args[0] == "tables") ||
                     (args.size() == 3 && args[0] == "rows") ||
                     (args.size() == 4 && args[0] == "distinct");
  if (!known) {
    return Usage();
  }
  Output out;
  try {
    const Database db = Open(std::string(args[1]));
    if (args[0] == "tables") {
      ListTables(out, db);
    } else {
      TableReader table(db, args[2]);
      if (args[0] == "rows") {
        SendRows(out, table);
      } else {
        SendDistinct(out, table, args[3]);
      }
    }
    out.Empty(frames::kDone);
    out.Flush();
    return 0;
  } catch (const Stop& stop) {
    std::string& b = out.buffer();
    const std::size_t at = frames::StartFrame(b, frames::kError);
    frames::AppendField(b, std::to_string(stop.number()));
    frames::AppendField(b, stop.description());
    frames::FinishFrame(b, at);
    out.Flush();
    return 1;
  }
}
