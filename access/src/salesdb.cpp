// The sales database and its recordset: the statement is parsed here, the table is read by
// lirvo-mdb-reader in a process of its own (reader_process.h), and its frames become rows as
// MoveNext asks for them.
#include "lirvo/salesdb.h"

#include <cstdlib>

#include <lirvo/modTally.h>
#include <lirvo/text.h>

#include "frames.h"
#include "header_check.h"
#include "reader_process.h"
#include "statement.h"

namespace lirvo::access {

namespace {

using modTally::Failure;
namespace FailureNumber = modTally::FailureNumber;

std::string Quoted(std::string_view text) {
  return "\"" + std::string(text) + "\"";
}

// A frame whose fields do not match what it should hold.
[[noreturn]] void Garbled(const std::string& where) {
  throw Failure(FailureNumber::kDatabase,
                "cannot read " + where + ": the database reader's output is garbled");
}

}  // namespace

namespace detail {

struct DatabaseHandle {
  std::filesystem::path path;
  std::vector<std::string> tables;  // as the catalog spells them
};

}  // namespace detail

using detail::DatabaseHandle;

SalesDatabase::SalesDatabase(const std::filesystem::path& file)
    : handle_(std::make_shared<DatabaseHandle>()) {
  handle_->path = file;
  CheckDatabaseFile(file);
  const std::string name = file.string();
  const auto where = [&name] { return "the list of tables in " + name; };
  ReaderProcess reader({"tables", name}, where);
  ReaderProcess::Frame frame = reader.Next();
  if (frame.kind != frames::kTables) {
    Garbled(where());
  }
  std::optional<std::string_view> table;
  while (!frame.payload.empty()) {
    if (!frames::TakeField(frame.payload, table) || !table) {
      Garbled(where());
    }
    handle_->tables.emplace_back(*table);
  }
  if (reader.Next().kind != frames::kDone) {
    Garbled(where());
  }
}

SalesDatabase::~SalesDatabase() = default;
SalesDatabase::SalesDatabase(SalesDatabase&&) noexcept = default;
SalesDatabase& SalesDatabase::operator=(SalesDatabase&&) noexcept = default;

const std::filesystem::path& SalesDatabase::path() const {
  return handle_->path;
}

const std::vector<std::string>& SalesDatabase::Tables() const {
  return handle_->tables;
}

struct Recordset::State {
  std::shared_ptr<DatabaseHandle> handle;
  std::string statement;
  std::string table;
  std::vector<std::string> names;
  std::vector<std::optional<std::string>> unreadable;  // per column: what it holds, if no text
  long count = 0;
  long row_number = 0;  // of the current row, from 1
  bool distinct = false;
  bool at_end = true;
  std::vector<FieldValue> row;
  std::unique_ptr<ReaderProcess> reader;  // until the end of the result

  std::string Where() const {
    std::string where = "table " + Quoted(table) + " of " + handle->path.string();
    if (distinct) {
      where = "the result of " + Quoted(statement) + " on " + handle->path.string();
    }
    return row_number > 0 ? where + ", row " + std::to_string(row_number) : where;
  }

  // Reads the next row into `row`, or marks the end and lets the reader go.
  void Advance() {
    ++row_number;
    const ReaderProcess::Frame frame = reader->Next();
    if (frame.kind == frames::kDone) {
      at_end = true;
      row.clear();
      reader.reset();
      return;
    }
    if (frame.kind != frames::kRow) {
      Garbled(Where());
    }
    std::string_view payload = frame.payload;
    std::optional<std::string_view> field;
    for (FieldValue& value : row) {
      if (!frames::TakeField(payload, field)) {
        Garbled(Where());
      }
      if (field) {
        value.emplace(*field);  // reuses the string's room from the row before
      } else {
        value.reset();
      }
    }
    at_end = false;
  }
};

Recordset SalesDatabase::Open(std::string_view statement) {
  const std::string& name = handle_->path.string();
  const auto parsed = ParseStatement(statement);
  if (!parsed) {
    throw Failure(FailureNumber::kDatabase,
                  "cannot run " + Quoted(statement) + " on " + name +
                      ": only \"Select DISTINCT <column> from <table>\" and \"Select * from "
                      "<table>\" are supported");
  }
  const std::string* table = nullptr;
  for (const std::string& candidate : handle_->tables) {
    if (lirvo::text::EqualsNoCase(candidate, parsed->table)) {
      table = &candidate;
      break;
    }
  }
  if (table == nullptr) {
    throw Failure(FailureNumber::kDatabase, name + " has no table " + Quoted(parsed->table) +
                                                " (needed by " + Quoted(statement) + ")");
  }

  auto state = std::make_unique<Recordset::State>();
  Recordset::State& s = *state;
  s.handle = handle_;
  s.statement = std::string(statement);
  s.table = *table;
  s.distinct = parsed->distinct;
  std::vector<std::string> arguments{"rows", name, *table};
  if (parsed->distinct) {
    arguments = {"distinct", name, *table, parsed->column};
  }
  // The state lives on the heap: the pointer stays good when the recordset moves.
  s.reader = std::make_unique<ReaderProcess>(arguments, [&s] { return s.Where(); });

  const ReaderProcess::Frame header = s.reader->Next();
  std::string_view payload = header.payload;
  std::optional<std::string_view> field;
  if (header.kind != frames::kHeader || !frames::TakeField(payload, field) || !field) {
    Garbled(s.Where());
  }
  s.count = std::atol(std::string(*field).c_str());
  while (!payload.empty()) {
    std::optional<std::string_view> unreadable;
    if (!frames::TakeField(payload, field) || !field || !frames::TakeField(payload, unreadable)) {
      Garbled(s.Where());
    }
    s.names.emplace_back(*field);
    s.unreadable.emplace_back(unreadable ? std::optional<std::string>(*unreadable) : std::nullopt);
  }
  s.row.resize(s.names.size());
  s.Advance();
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

long Recordset::RowNumber() const {
  return state_->row_number;
}

std::vector<std::string> Recordset::FieldNames() const {
  return state_->names;
}

namespace {

// `table "SalesMst" of FILE`, for the failures of a recordset.
std::string Place(std::string_view table, const std::filesystem::path& file) {
  return "table " + Quoted(table) + " of " + file.string();
}

}  // namespace

std::size_t Recordset::FieldIndex(std::string_view name) const {
  const State& s = *state_;
  for (std::size_t i = 0; i < s.names.size(); ++i) {
    if (lirvo::text::EqualsNoCase(s.names[i], name)) {
      return i;
    }
  }
  throw Failure(FailureNumber::kDatabase,
                Place(s.table, s.handle->path) + " has no column " + Quoted(name) +
                    (s.distinct ? " in the result of " + Quoted(s.statement) : std::string()));
}

const FieldValue& Recordset::Field(std::string_view name) const {
  return Field(FieldIndex(name));
}

const FieldValue& Recordset::Field(std::size_t index) const {
  const State& s = *state_;
  if (s.unreadable[index]) {
    throw Failure(FailureNumber::kValue, "column " + Quoted(s.names[index]) + " of " +
                                             Place(s.table, s.handle->path) + " holds " +
                                             *s.unreadable[index] + ", which have no text form");
  }
  if (s.at_end) {
    throw Failure(FailureNumber::kDatabase,
                  "no current row in the result of " + Quoted(s.statement) + " on " +
                      s.handle->path.string() + ": it has been read to the end");
  }
  return s.row[index];
}

void Recordset::MoveNext() {
  State& s = *state_;
  if (s.at_end) {
    throw Failure(FailureNumber::kDatabase, "cannot move past the end of the result of " +
                                                Quoted(s.statement) + " on " +
                                                s.handle->path.string());
  }
  s.Advance();
}

}  // namespace lirvo::access
