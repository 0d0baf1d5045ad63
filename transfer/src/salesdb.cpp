// The sales database reader over libmdb. Rows are taken apart with libmdb's own row cracker so
// that a null stays apart from an empty text, and every value is turned into its text form here,
// from the stored bytes, rather than through libmdb's locale-dependent formatting.
#include "lirvo/salesdb.h"
#include <lirvo/text.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <map>
#include <unordered_set>
#include <variant>

// mdbtools.h includes glib inside its extern "C" block, which breaks glib's C++ templates; with
// glib included first (in a block of its own, so it stays first) its include guard keeps the
// second inclusion empty.
#include <glib.h>

#include <mdbtools.h>

#include <lirvo/modTally.h>

namespace lirvo::transfer {

namespace {

using modTally::Failure;
namespace FailureNumber = modTally::FailureNumber;

static_assert(std::endian::native == std::endian::little,
              "Access stores numbers little-endian; the reader copies them as they are");

struct MdbCloser {
  void operator()(MdbHandle* mdb) const { mdb_close(mdb); }
};
struct TableFreer {
  void operator()(MdbTableDef* table) const { mdb_free_tabledef(table); }
};
struct GFreer {
  void operator()(char* text) const { g_free(text); }
};
using TablePtr = std::unique_ptr<MdbTableDef, TableFreer>;
using GText = std::unique_ptr<char, GFreer>;

using lirvo::text::FoldCase;

bool SameName(std::string_view a, std::string_view b) {
  return lirvo::text::EqualsNoCase(a, b);
}

std::string Quoted(std::string_view text) {
  return "\"" + std::string(text) + "\"";
}

// ---------------------------------------------------------------------------------------------
// Text forms

// Shortest decimal that reads back to `value`; fixed notation for ordinary magnitudes.
template <class Real>
std::string ShortestDecimal(Real value) {
  if (value == 0) {
    return "0";  // also for -0
  }
  const Real magnitude = std::fabs(value);
  const auto format = (magnitude >= Real(1e-6) && magnitude < Real(1e21))
                          ? std::chars_format::fixed
                          : std::chars_format::general;
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, format);
  return std::string(buffer, result.ptr);
}

// Drops trailing zeros after a decimal point, and the point itself when nothing follows it.
std::string TrimFraction(std::string text) {
  if (text.find('.') != std::string::npos) {
    while (!text.empty() && text.back() == '0') {
      text.pop_back();
    }
    if (!text.empty() && text.back() == '.') {
      text.pop_back();
    }
  }
  if (text == "-0" || text.empty()) {
    return "0";
  }
  return text;
}

// Currency is a 64-bit integer count of ten-thousandths.
std::string MoneyText(std::int64_t raw) {
  const bool negative = raw < 0;
  const std::uint64_t magnitude =
      negative ? 0 - static_cast<std::uint64_t>(raw) : static_cast<std::uint64_t>(raw);
  std::string text = negative ? "-" : "";
  text += std::to_string(magnitude / 10000);
  char fraction[8];
  std::snprintf(fraction, sizeof fraction, ".%04u", static_cast<unsigned>(magnitude % 10000));
  return TrimFraction(text + fraction);
}

std::string DateText(double stored) {
  std::tm parts{};
  mdb_date_to_tm(stored, &parts);
  char text[32];
  std::snprintf(text, sizeof text, "%04d%02d%02d", parts.tm_year + 1900, parts.tm_mon + 1,
                parts.tm_mday);
  return text;
}

// How DISTINCT orders a column's values: nulls first, then by value.
using SortKey = std::variant<std::monostate, std::string, double, std::int64_t>;

struct Cell {
  FieldValue text;
  SortKey key;
};

struct ColumnInfo {
  std::string name;
  int type = 0;
  int scale = 0;
  int precision = 0;
};

const char* UnreadableTypeName(int type) {
  switch (type) {
    case MDB_BINARY:
      return "binary data";
    case MDB_OLE:
      return "OLE objects";
    case MDB_COMPLEX:
      return "multi-valued data";
    default:
      return nullptr;
  }
}

bool Readable(int type) {
  switch (type) {
    case MDB_BOOL:
    case MDB_BYTE:
    case MDB_INT:
    case MDB_LONGINT:
    case MDB_MONEY:
    case MDB_FLOAT:
    case MDB_DOUBLE:
    case MDB_DATETIME:
    case MDB_TEXT:
    case MDB_MEMO:
    case MDB_REPID:
    case MDB_NUMERIC:
      return true;
    default:
      return false;
  }
}

std::size_t FixedSize(int type) {
  switch (type) {
    case MDB_BYTE:
      return 1;
    case MDB_INT:
      return 2;
    case MDB_LONGINT:
    case MDB_FLOAT:
      return 4;
    case MDB_MONEY:
    case MDB_DOUBLE:
    case MDB_DATETIME:
      return 8;
    case MDB_REPID:
      return 16;
    case MDB_NUMERIC:
      return 17;
    default:
      return 0;
  }
}

// Hashes stored bytes, looked up without copying them.
struct BytesHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view bytes) const {
    return std::hash<std::string_view>()(bytes);
  }
};

// Where a table is, for messages: table "X" of FILE.
std::string TablePlace(std::string_view table, const std::filesystem::path& file) {
  return "table " + Quoted(table) + " of " + file.string();
}

// The value of one cracked field of `table` in `file`. The field's bytes are in mdb->pg_buf.
// Without `keyed` (reading rows, not DISTINCT) a text's sort key is left empty.
Cell ReadCell(MdbHandle* mdb, const ColumnInfo& column, const MdbField& field,
              std::string_view table, const std::filesystem::path& file, bool keyed) {
  if (column.type == MDB_BOOL) {
    // A Yes/No value lives in the row's null mask: a set bit (not null) is Yes.
    const bool yes = field.is_null == 0;
    return {yes ? "Yes" : "No", yes ? -1.0 : 0.0};  // Access orders Yes (-1) before No (0)
  }
  if (field.is_null != 0) {
    return {std::nullopt, std::monostate()};
  }
  const std::size_t page_size = static_cast<std::size_t>(mdb->fmt->pg_size);
  if (field.start < 0 || field.siz < 0 ||
      static_cast<std::size_t>(field.start) + static_cast<std::size_t>(field.siz) > page_size ||
      static_cast<std::size_t>(field.siz) < FixedSize(column.type)) {
    throw Failure(FailureNumber::kValue, "the value of column " + Quoted(column.name) + " in " +
                                             TablePlace(table, file) + " is damaged");
  }
  unsigned char* const page = mdb->pg_buf;
  switch (column.type) {
    case MDB_TEXT:
    case MDB_MEMO: {
      if (field.siz == 0) {
        return {std::string(), std::string()};
      }
      const GText text(mdb_col_to_string(mdb, page, field.start, column.type, field.siz));
      std::string value = text ? std::string(text.get()) : std::string();
      std::string key = keyed ? FoldCase(value) : std::string();
      return {std::move(value), std::move(key)};
    }
    case MDB_REPID: {
      const GText text(mdb_uuid_to_string(page, field.start));
      std::string value = text ? std::string(text.get()) : std::string();
      std::string key = keyed ? FoldCase(value) : std::string();
      return {std::move(value), std::move(key)};
    }
    case MDB_DATETIME: {
      const double stored = mdb_get_double(page, field.start);
      return {DateText(stored), stored};
    }
    case MDB_MONEY: {
      std::int64_t raw = 0;
      std::memcpy(&raw, page + field.start, sizeof raw);
      return {MoneyText(raw), raw};
    }
    case MDB_DOUBLE: {
      const double value = mdb_get_double(page, field.start);
      return {ShortestDecimal(value), value};
    }
    case MDB_FLOAT: {
      const float value = mdb_get_single(page, field.start);
      return {ShortestDecimal(value), static_cast<double>(value)};
    }
    case MDB_NUMERIC: {
      const GText text(mdb_numeric_to_string(mdb, field.start, column.scale, column.precision));
      std::string value = TrimFraction(text ? std::string(text.get()) : std::string("0"));
      double number = 0;
      std::from_chars(value.data(), value.data() + value.size(), number);
      return {std::move(value), number};
    }
    case MDB_BYTE: {
      const int value = mdb_get_byte(page, field.start);
      return {std::to_string(value), static_cast<double>(value)};
    }
    case MDB_INT: {
      const auto value = static_cast<std::int16_t>(mdb_get_int16(page, field.start));
      return {std::to_string(value), static_cast<double>(value)};
    }
    case MDB_LONGINT: {
      const auto value = static_cast<std::int32_t>(mdb_get_int32(page, field.start));
      return {std::to_string(value), static_cast<double>(value)};
    }
    default:
      // Unreadable types are refused before any row is read.
      return {std::nullopt, std::monostate()};
  }
}

// ---------------------------------------------------------------------------------------------
// Statements

struct Statement {
  bool distinct = false;
  std::string column;  // DISTINCT only
  std::string table;
};

struct Token {
  std::string text;
  bool bracketed = false;
};

std::optional<std::vector<Token>> Tokenize(std::string_view text) {
  std::vector<Token> tokens;
  std::size_t i = 0;
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (i < text.size()) {
    if (blank(text[i])) {
      ++i;
    } else if (text[i] == '[') {
      const std::size_t close = text.find(']', i + 1);
      if (close == std::string_view::npos) {
        return std::nullopt;
      }
      tokens.push_back({std::string(text.substr(i + 1, close - i - 1)), true});
      i = close + 1;
    } else if (text[i] == ';') {
      tokens.push_back({";", false});
      ++i;
    } else {
      const std::size_t start = i;
      while (i < text.size() && !blank(text[i]) && text[i] != '[' && text[i] != ';') {
        ++i;
      }
      tokens.push_back({std::string(text.substr(start, i - start)), false});
    }
  }
  return tokens;
}

bool IsKeyword(const Token& token, std::string_view keyword) {
  return !token.bracketed && SameName(token.text, keyword);
}

// A plain name: letters, digits and underscores (anything else must be bracketed).
bool IsName(const Token& token) {
  if (token.text.empty()) {
    return false;
  }
  if (token.bracketed) {
    return true;
  }
  for (const char c : token.text) {
    const auto u = static_cast<unsigned char>(c);
    if (!(std::isalnum(u) != 0 || c == '_' || u >= 0x80)) {
      return false;
    }
  }
  return true;
}

std::optional<Statement> ParseStatement(std::string_view text) {
  auto tokens = Tokenize(text);
  if (!tokens) {
    return std::nullopt;
  }
  if (!tokens->empty() && IsKeyword(tokens->back(), ";")) {
    tokens->pop_back();
  }
  const std::vector<Token>& t = *tokens;
  if (t.size() == 5 && IsKeyword(t[0], "select") && IsKeyword(t[1], "distinct") && IsName(t[2]) &&
      IsKeyword(t[3], "from") && IsName(t[4])) {
    return Statement{true, t[2].text, t[4].text};
  }
  if (t.size() == 4 && IsKeyword(t[0], "select") && IsKeyword(t[1], "*") &&
      IsKeyword(t[2], "from") && IsName(t[3])) {
    return Statement{false, "", t[3].text};
  }
  return std::nullopt;
}

// ---------------------------------------------------------------------------------------------
// Reading a damaged file safely

// libmdb trusts the file: one changed byte in a table's page usage map makes it read out of
// bounds, and a file cut inside a page makes it loop for ever. So every read is first made in a
// child process; only when the child came through does this process make it too, reading the
// same bytes the same way. A child that ends by a signal or runs past the limit means a damaged
// file.
constexpr std::chrono::seconds kTrialLimit{20};

enum class Trial { kCameThrough, kCrashed, kTimedOut, kNotRun };

// Runs `read` in a child process with its output discarded (libmdb writes its complaints there);
// a failure it throws is left for this process to meet again. kNotRun when no child can be
// made or waited for: the caller then reads without the trial.
Trial TryInChild(const std::function<void()>& read) {
  std::array<int, 2> pipe{};
  if (pipe2(pipe.data(), O_CLOEXEC) != 0) {
    return Trial::kNotRun;
  }
  const pid_t child = fork();
  if (child < 0) {
    close(pipe[0]);
    close(pipe[1]);
    return Trial::kNotRun;
  }
  if (child == 0) {
    // Only the write end of the pipe is held here; its closing at exit tells the parent.
    close(pipe[0]);
    const int null = open("/dev/null", O_WRONLY);
    if (null >= 0) {
      dup2(null, STDOUT_FILENO);
      dup2(null, STDERR_FILENO);
    }
    try {
      read();
    } catch (...) {
    }
    _exit(0);
  }
  close(pipe[1]);
  const auto deadline = std::chrono::steady_clock::now() + kTrialLimit;
  bool ended = false;
  while (!ended) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      break;
    }
    pollfd waiting{pipe[0], POLLIN, 0};
    const int ready = poll(&waiting, 1, static_cast<int>(left.count()));
    ended = ready > 0;
    if (ready < 0 && errno != EINTR) {
      break;
    }
  }
  close(pipe[0]);
  if (!ended) {
    kill(child, SIGKILL);
  }
  int status = 0;
  pid_t waited = 0;
  do {
    waited = waitpid(child, &status, 0);
  } while (waited < 0 && errno == EINTR);
  if (waited != child) {
    return Trial::kNotRun;
  }
  if (!ended) {
    return Trial::kTimedOut;
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? Trial::kCameThrough : Trial::kCrashed;
}

// Throws the failure for a trial that did not come through; `what` names the read.
void RequireTrial(Trial trial, const std::string& what, const std::string& file) {
  const std::string advice = "; repair it in Access (Compact and Repair) or use a good copy";
  if (trial == Trial::kCrashed) {
    throw Failure(FailureNumber::kDatabase, "cannot read " + what + " in " + file +
                                                ": the file is damaged (reading it failed)" +
                                                advice);
  }
  if (trial == Trial::kTimedOut) {
    throw Failure(FailureNumber::kDatabase,
                  "cannot read " + what + " in " + file + ": the file is damaged (reading it " +
                      "did not finish within " + std::to_string(kTrialLimit.count()) + " s)" +
                      advice);
  }
}

// The header of an Access database: its first page starts with these bytes, and the format
// version at offset 0x14 gives the page size (2048 bytes for Jet 3, 4096 from Jet 4 on). The
// file is made of whole pages; libmdb loops for ever on some files cut inside a page.
void CheckHeader(const std::filesystem::path& file) {
  const std::string name = file.string();
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(file, error);
  if (!error && size == 0) {
    throw Failure(FailureNumber::kDatabase, "cannot open " + name + ": the file is empty");
  }
  std::array<char, 0x15> header{};
  std::ifstream in(file, std::ios::binary);
  in.read(header.data(), header.size());
  const std::string_view text(header.data(), header.size());
  const bool access =
      in.gcount() == static_cast<std::streamsize>(header.size()) &&
      text.substr(0, 4) == std::string_view("\0\1\0\0", 4) &&
      (text.substr(4, 15) == "Standard Jet DB" || text.substr(4, 15) == "Standard ACE DB");
  if (!access) {
    throw Failure(FailureNumber::kDatabase, "cannot open " + name + ": not an Access database");
  }
  const std::uintmax_t page = header[0x14] == 0 ? 2048 : 4096;
  if (!error && size % page != 0) {
    throw Failure(FailureNumber::kDatabase,
                  "cannot open " + name + ": the file is cut short or damaged (" +
                      std::to_string(size) + " bytes is not a whole number of " +
                      std::to_string(page) + "-byte pages)");
  }
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// The database

namespace detail {

struct DatabaseHandle {
  std::filesystem::path path;
  std::unique_ptr<MdbHandle, MdbCloser> mdb;
  // Tables read through in a child process without harm (names folded to lower case).
  std::vector<std::string> tried_tables;

  std::string Where(std::string_view table) const { return TablePlace(table, path); }
};

}  // namespace detail

using detail::DatabaseHandle;

SalesDatabase::SalesDatabase(const std::filesystem::path& file)
    : handle_(std::make_shared<DatabaseHandle>()) {
  handle_->path = file;
  const std::string name = file.string();
  std::error_code error;
  if (!std::filesystem::exists(file, error)) {
    throw Failure(FailureNumber::kDatabase, "cannot open " + name + ": no such file");
  }
  if (!std::filesystem::is_regular_file(file, error)) {
    throw Failure(FailureNumber::kDatabase, "cannot open " + name + ": not a file");
  }
  // libmdb reports an unreadable file only as a null handle; ask the system for the reason.
  if (std::FILE* probe = std::fopen(name.c_str(), "rb")) {
    std::fclose(probe);
  } else {
    throw Failure(FailureNumber::kDatabase, "cannot open " + name + ": " + std::strerror(errno));
  }
  CheckHeader(file);
  RequireTrial(
      TryInChild([&name] {
        const std::unique_ptr<MdbHandle, MdbCloser> mdb(mdb_open(name.c_str(), MDB_NOFLAGS));
        if (mdb) {
          mdb_read_catalog(mdb.get(), MDB_TABLE);
        }
      }),
      "the list of tables", name);
  handle_->mdb.reset(mdb_open(name.c_str(), MDB_NOFLAGS));
  if (!handle_->mdb) {
    throw Failure(FailureNumber::kDatabase, "cannot open " + name + ": not an Access database");
  }
  if (mdb_read_catalog(handle_->mdb.get(), MDB_TABLE) == nullptr) {
    throw Failure(FailureNumber::kDatabase, "cannot read the list of tables in " + name +
                                                ": the file is damaged or not an Access database");
  }
}

SalesDatabase::~SalesDatabase() = default;
SalesDatabase::SalesDatabase(SalesDatabase&&) noexcept = default;
SalesDatabase& SalesDatabase::operator=(SalesDatabase&&) noexcept = default;

const std::filesystem::path& SalesDatabase::path() const {
  return handle_->path;
}

// ---------------------------------------------------------------------------------------------
// The recordset

struct Recordset::State {
  std::shared_ptr<DatabaseHandle> handle;  // outlives `table`: declared first
  TablePtr table;                          // "Select *" only
  std::string statement;
  std::string table_name;
  std::vector<ColumnInfo> columns;
  long count = 0;
  bool distinct = false;
  bool at_end = true;
  std::vector<FieldValue> distinct_values;
  std::size_t position = 0;
  std::vector<FieldValue> row;   // "Select *": the current row, by column
  std::vector<MdbField> fields;  // the cracked fields of the current row: `field_count` of them
  std::size_t field_count = 0;
  unsigned int rows_read = 0;

  MdbHandle* mdb() const { return handle->mdb.get(); }

  // Reads the next row of `table` into `fields`; false at the end of the table.
  bool FetchRow() {
    MdbHandle* const m = mdb();
    // Every table read on this file shares libmdb's one page buffer. When another recordset has
    // read meanwhile, put this table's current page back before going on from it.
    if (table->cur_pg_num != 0 && m->cur_pg != table->cur_phys_pg) {
      mdb_read_pg(m, table->cur_phys_pg);
    }
    if (mdb_fetch_row(table.get()) == 0) {
      // The table definition counts the rows: reading that ends early means lost pages.
      if (rows_read < table->num_rows) {
        throw Failure(FailureNumber::kDatabase,
                      "cannot read all rows of " + handle->Where(table_name) +
                          ": the file is damaged (" + std::to_string(rows_read) + " of its " +
                          std::to_string(table->num_rows) + " rows could be read)");
      }
      return false;
    }
    ++rows_read;
    int start = 0;
    std::size_t length = 0;
    if (mdb_find_row(m, static_cast<int>(table->cur_row) - 1, &start, &length) != 0) {
      throw Failure(FailureNumber::kDatabase,
                    "cannot read a row of " + handle->Where(table_name) + ": the file is damaged");
    }
    // The row offset's top bits are flags (deleted, overflow); libmdb masks them the same way.
    constexpr int kOffsetMask = 0x1fff;
    // Room for every column libmdb may crack, made once: clearing it for every row cost more
    // than reading the row.
    fields.resize(MDB_MAX_COLS);
    const int cracked = mdb_crack_row(table.get(), start & kOffsetMask, length, fields.data());
    if (cracked < 0 || cracked > MDB_MAX_COLS) {
      throw Failure(FailureNumber::kDatabase,
                    "cannot read a row of " + handle->Where(table_name) + ": the file is damaged");
    }
    field_count = static_cast<std::size_t>(cracked);
    return true;
  }

  Cell CellOf(std::size_t field_index) const {
    const MdbField& field = fields[field_index];
    const auto column = static_cast<std::size_t>(field.colnum);
    if (column >= columns.size()) {
      throw Failure(FailureNumber::kDatabase,
                    "cannot read a row of " + handle->Where(table_name) + ": the file is damaged");
    }
    return ReadCell(mdb(), columns[column], field, table_name, handle->path, false);
  }

  // "Select *": reads the next row into `row`, or marks the end.
  void Advance() {
    if (!FetchRow()) {
      at_end = true;
      row.clear();
      return;
    }
    row.assign(columns.size(), std::nullopt);
    for (std::size_t i = 0; i < field_count; ++i) {
      const auto column = static_cast<std::size_t>(fields[i].colnum);
      if (column < columns.size() && Readable(columns[column].type)) {
        row[column] = CellOf(i).text;
      }
    }
    at_end = false;
  }
};

Recordset SalesDatabase::Open(std::string_view statement) {
  // Every statement reads one table, and reading all of it with every column (what "Select *"
  // read to the end does) takes libmdb through all that any statement on it can: one trial per
  // table is enough. The transfer's six statements all read SalesMst.
  const std::optional<Statement> parsed = ParseStatement(statement);
  const bool bracketable = parsed && parsed->table.find(']') == std::string::npos;
  const std::string table = parsed ? FoldCase(parsed->table) : std::string();
  std::vector<std::string>& tried = handle_->tried_tables;
  if (bracketable && std::find(tried.begin(), tried.end(), table) != tried.end()) {
    return OpenDirect(statement);
  }
  const std::string trial_statement =
      bracketable ? "Select * from [" + parsed->table + "]" : std::string(statement);
  RequireTrial(TryInChild([this, &trial_statement] {
                 Recordset rows = OpenDirect(trial_statement);
                 while (!rows.AtEnd()) {
                   rows.MoveNext();
                 }
               }),
               "the result of " + Quoted(statement), handle_->path.string());
  if (bracketable) {
    tried.push_back(table);
  }
  return OpenDirect(statement);
}

Recordset SalesDatabase::OpenDirect(std::string_view statement) {
  const std::string& name = handle_->path.string();
  const auto parsed = ParseStatement(statement);
  if (!parsed) {
    throw Failure(FailureNumber::kDatabase,
                  "cannot run " + Quoted(statement) + " on " + name +
                      ": only \"Select DISTINCT <column> from <table>\" and \"Select * from "
                      "<table>\" are supported");
  }
  MdbHandle* const mdb = handle_->mdb.get();

  MdbCatalogEntry* entry = nullptr;
  for (guint i = 0; mdb->catalog != nullptr && i < mdb->catalog->len; ++i) {
    auto* candidate = static_cast<MdbCatalogEntry*>(g_ptr_array_index(mdb->catalog, i));
    if (candidate->object_type == MDB_TABLE && SameName(candidate->object_name, parsed->table)) {
      entry = candidate;
      break;
    }
  }
  if (entry == nullptr) {
    throw Failure(FailureNumber::kDatabase, name + " has no table " + Quoted(parsed->table) +
                                                " (needed by " + Quoted(statement) + ")");
  }

  auto state = std::make_unique<Recordset::State>();
  state->handle = handle_;
  state->statement = std::string(statement);
  state->table_name = entry->object_name;
  state->distinct = parsed->distinct;
  TablePtr table(mdb_read_table(entry));
  if (!table || mdb_read_columns(table.get()) == nullptr) {
    throw Failure(FailureNumber::kDatabase, "cannot read the columns of " +
                                                handle_->Where(state->table_name) +
                                                ": the file is damaged");
  }
  std::vector<ColumnInfo> all;
  for (guint i = 0; i < table->columns->len; ++i) {
    const auto* column = static_cast<MdbColumn*>(g_ptr_array_index(table->columns, i));
    all.push_back({column->name, column->col_type, column->col_scale, column->col_prec});
  }
  mdb_rewind_table(table.get());
  state->table = std::move(table);

  if (!parsed->distinct) {
    state->columns = std::move(all);
    state->count = static_cast<long>(state->table->num_rows);
    state->Advance();
    return Recordset(std::move(state));
  }

  // DISTINCT: one pass over the table, keeping the first spelling met of each value.
  std::size_t wanted = all.size();
  for (std::size_t i = 0; i < all.size(); ++i) {
    if (SameName(all[i].name, parsed->column)) {
      wanted = i;
      break;
    }
  }
  if (wanted == all.size()) {
    throw Failure(FailureNumber::kDatabase, handle_->Where(state->table_name) + " has no column " +
                                                Quoted(parsed->column) + " (needed by " +
                                                Quoted(statement) + ")");
  }
  if (!Readable(all[wanted].type)) {
    const char* what = UnreadableTypeName(all[wanted].type);
    throw Failure(FailureNumber::kValue,
                  "column " + Quoted(all[wanted].name) + " of " +
                      handle_->Where(state->table_name) + " holds " +
                      (what != nullptr ? what : "values of an unknown type") +
                      ", which have no text form");
  }
  state->columns = {all[wanted]};
  std::map<SortKey, FieldValue> values;
  // A value stored with the same bytes as one already read has the same text, so only new byte
  // strings are turned into text (most rows repeat a party, an item or a unit). Text and
  // fixed-size values only: a memo's bytes point elsewhere, a Yes/No lives in the null mask.
  const bool by_bytes = all[wanted].type == MDB_TEXT || FixedSize(all[wanted].type) > 0;
  const auto page_size = static_cast<std::size_t>(mdb->fmt->pg_size);
  std::unordered_set<std::string, BytesHash, std::equal_to<>> stored;
  while (state->FetchRow()) {
    for (std::size_t i = 0; i < state->field_count; ++i) {
      if (static_cast<std::size_t>(state->fields[i].colnum) == wanted) {
        const MdbField& field = state->fields[i];
        if (by_bytes && field.is_null == 0 && field.start >= 0 && field.siz >= 0 &&
            static_cast<std::size_t>(field.start) + static_cast<std::size_t>(field.siz) <=
                page_size) {
          const std::string_view bytes(reinterpret_cast<const char*>(mdb->pg_buf) + field.start,
                                       static_cast<std::size_t>(field.siz));
          if (stored.find(bytes) != stored.end()) {
            break;
          }
          stored.emplace(bytes);
        }
        Cell cell = ReadCell(mdb, all[wanted], field, state->table_name, handle_->path, true);
        values.try_emplace(std::move(cell.key), std::move(cell.text));
        break;
      }
    }
  }
  state->table.reset();  // everything is read: release the table now
  for (auto& [key, text] : values) {
    state->distinct_values.push_back(std::move(text));
  }
  state->count = static_cast<long>(state->distinct_values.size());
  state->at_end = state->distinct_values.empty();
  return Recordset(std::move(state));
}

Recordset::Recordset(std::unique_ptr<State> state) : state_(std::move(state)) {}
Recordset::~Recordset() = default;
Recordset::Recordset(Recordset&&) noexcept = default;
Recordset& Recordset::operator=(Recordset&&) noexcept = default;

long Recordset::RecordCount() const {
  return state_->count;
}

bool Recordset::AtEnd() const {
  return state_->at_end;
}

std::vector<std::string> Recordset::FieldNames() const {
  std::vector<std::string> names;
  for (const ColumnInfo& column : state_->columns) {
    names.push_back(column.name);
  }
  return names;
}

const FieldValue& Recordset::Field(std::string_view name) const {
  const State& s = *state_;
  std::size_t index = s.columns.size();
  for (std::size_t i = 0; i < s.columns.size(); ++i) {
    if (SameName(s.columns[i].name, name)) {
      index = i;
      break;
    }
  }
  if (index == s.columns.size()) {
    throw Failure(FailureNumber::kDatabase,
                  s.handle->Where(s.table_name) + " has no column " + Quoted(name) +
                      (s.distinct ? " in the result of " + Quoted(s.statement) : std::string()));
  }
  if (!Readable(s.columns[index].type)) {
    const char* what = UnreadableTypeName(s.columns[index].type);
    throw Failure(FailureNumber::kValue,
                  "column " + Quoted(s.columns[index].name) + " of " +
                      s.handle->Where(s.table_name) + " holds " +
                      (what != nullptr ? what : "values of an unknown type") +
                      ", which have no text form");
  }
  if (s.at_end) {
    throw Failure(FailureNumber::kDatabase,
                  "no current row in the result of " + Quoted(s.statement) + " on " +
                      s.handle->path.string() + ": it has been read to the end");
  }
  return s.distinct ? s.distinct_values[s.position] : s.row[index];
}

void Recordset::MoveNext() {
  State& s = *state_;
  if (s.at_end) {
    throw Failure(FailureNumber::kDatabase, "cannot move past the end of the result of " +
                                                Quoted(s.statement) + " on " +
                                                s.handle->path.string());
  }
  if (s.distinct) {
    ++s.position;
    s.at_end = s.position >= s.distinct_values.size();
  } else {
    s.Advance();
  }
}

}  // namespace lirvo::transfer
