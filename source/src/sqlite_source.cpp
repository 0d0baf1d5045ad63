// A source over an SQLite file.
#include <filesystem>
#include <system_error>

#include <lirvo/sqlite.h>

#include "backends.h"

namespace lirvo::source {

namespace {

std::string Quoted(std::string_view name) {
  std::string quoted = "\"";
  for (const char c : name) {
    quoted += c;
    if (c == '"') {
      quoted += '"';
    }
  }
  return quoted + "\"";
}

// Runs `step`, turning a failure of SQLite into Error: "<doing> sqlite:PATH: <SQLite's reason>".
template <class Step>
auto Guarded(const std::string& doing, Step step) {
  try {
    return step();
  } catch (const sqlite::Error& error) {
    throw Error(doing + error.what());
  }
}

class SqliteRows final : public Rows {
 public:
  SqliteRows(std::string table, std::vector<std::string> columns, sqlite::Statement statement)
      : Rows(std::move(table), std::move(columns)), statement_(std::move(statement)) {}

  bool Next() override {
    ++row_number_;
    bool row = false;
    try {
      row = statement_.Step();
    } catch (const sqlite::Error& error) {
      // The message is written only when it is needed: rows are read by the hundred thousand.
      throw Error("cannot read row " + std::to_string(row_number_) + " of table \"" + table_ +
                  "\" of " + error.what());
    }
    if (!row) {
      return false;
    }
    // Each value is written over the last row's, so that a long one reuses its string.
    for (std::size_t i = 0; i < values_.size(); ++i) {
      if (const std::optional<std::string_view> value =
              statement_.View(static_cast<int>(i), digits_)) {
        values_[i] ? values_[i]->assign(*value) : values_[i].emplace(*value);
      } else {
        values_[i].reset();
      }
    }
    return true;
  }

 private:
  sqlite::Statement statement_;
  sqlite::Statement::Digits digits_{};
};

class SqliteSource final : public Source {
 public:
  explicit SqliteSource(const std::string& path) : name_("sqlite:" + path) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) {
      throw Error(
          "cannot open " + name_ + ": " +
          (std::filesystem::exists(path, error) ? "it is not a file" : "there is no such file"));
    }
    sqlite::OpenOptions options;
    options.read_only = true;
    options.name = name_;
    db_ =
        Guarded("cannot open ", [&] { return std::make_unique<sqlite::Database>(path, options); });
    // Opening does not read the file: a file that is not a database shows at the first query.
    Guarded("cannot open ",
            [this] { return db_->Prepare("SELECT count(*) FROM sqlite_master").Step(); });
  }

  const std::string& name() const override { return name_; }
  // Each Rows is a statement of its own on the one connection.
  bool ReadsTablesAtOnce() const override { return true; }

  std::vector<std::string> Tables() override {
    return Guarded("cannot read the list of tables of ", [this] {
      sqlite::Statement statement = db_->Prepare(
          "SELECT name FROM sqlite_master WHERE type IN ('table', 'view') "
          "AND name NOT LIKE 'sqlite\\_%' ESCAPE '\\' ORDER BY name");
      std::vector<std::string> tables;
      while (statement.Step()) {
        tables.push_back(statement.Text(0));
      }
      return tables;
    });
  }

  std::vector<std::string> Columns(const std::string& table) override {
    const std::string doing = "cannot read the columns of table \"" + table + "\" of ";
    std::vector<std::string> columns = Guarded(doing, [&] {
      sqlite::Statement statement = db_->Prepare("SELECT name FROM pragma_table_info(?)");
      statement.Bind(1, table);
      std::vector<std::string> names;
      while (statement.Step()) {
        names.push_back(statement.Text(0));
      }
      return names;
    });
    if (columns.empty()) {
      throw Error(doing + name_ + ": there is no such table");
    }
    return columns;
  }

  std::int64_t RowCount(const std::string& table) override {
    return Guarded("cannot count the rows of table \"" + table + "\" of ", [&] {
      sqlite::Statement statement = db_->Prepare("SELECT count(*) FROM " + Quoted(table));
      statement.Step();
      return statement.Int(0);
    });
  }

  std::unique_ptr<Rows> Read(const std::string& table) override {
    std::vector<std::string> columns = Columns(table);
    return Guarded("cannot read table \"" + table + "\" of ", [&]() -> std::unique_ptr<Rows> {
      return std::make_unique<SqliteRows>(table, std::move(columns),
                                          db_->Prepare("SELECT * FROM " + Quoted(table)));
    });
  }

 private:
  std::string name_;
  std::unique_ptr<sqlite::Database> db_;
};

}  // namespace

std::unique_ptr<Source> OpenSqlite(const std::string& path) {
  return std::make_unique<SqliteSource>(path);
}

}  // namespace lirvo::source
