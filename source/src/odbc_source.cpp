// A source over an ODBC data source.
#include <optional>

#include <lirvo/odbc.h>
#include <lirvo/text.h>

#include "backends.h"

namespace lirvo::source {

namespace {

// Runs `step`, turning a failure of the driver into Error with the driver's words (the wrapper's
// message already says what was done on which data source).
template <class Step>
auto Guarded(Step step) {
  try {
    return step();
  } catch (const odbc::Error& error) {
    throw Error(error.what());
  }
}

// Drivers that read a whole result into memory unless told otherwise, and what tells them to
// step through it: PostgreSQL's fetches through a cursor a block at a time, SQLite's steps
// sqlite3_step instead of taking the whole table. A connection string that already names the
// attribute is left as it is.
struct Streaming {
  std::string_view driver;  // in the driver's file name, lower case
  std::string_view key;     // the attribute, lower case
  std::string_view attributes;
};
constexpr Streaming kStreaming[] = {
    {"psqlodbc", "usedeclarefetch", ";UseDeclareFetch=1;Fetch=1000"},
    {"sqlite3odbc", "stepapi", ";StepAPI=1"},
};

class OdbcRows final : public Rows {
 public:
  OdbcRows(std::string table, std::unique_ptr<odbc::Statement> statement)
      : Rows(std::move(table), statement->Columns()), statement_(std::move(statement)) {}

  bool Next() override {
    ++row_number_;
    if (!Guarded([this] { return statement_->Fetch(); })) {
      return false;
    }
    values_ = statement_->Row();
    return true;
  }

 private:
  std::unique_ptr<odbc::Statement> statement_;
};

class OdbcSource final : public Source {
 public:
  OdbcSource(const std::string& connection_string, const Login& login)
      : name_("odbc:" + odbc::Scrubbed(connection_string)) {
    const odbc::Login odbc_login{login.user, login.password};
    // Connected once to learn the driver; again when it must be told to stream.
    Guarded([&] {
      connection_.emplace(environment_, connection_string, odbc_login);
      const std::string driver = text::FoldCase(connection_->DriverName());
      for (const Streaming& streaming : kStreaming) {
        if (driver.find(streaming.driver) != std::string::npos &&
            text::FoldCase(connection_string).find(streaming.key) == std::string::npos) {
          std::string streamed = connection_string;
          while (!streamed.empty() && (streamed.back() == ';' || streamed.back() == ' ')) {
            streamed.pop_back();
          }
          connection_.reset();
          connection_.emplace(environment_, streamed + std::string(streaming.attributes),
                              odbc_login);
          break;
        }
      }
      return true;
    });
  }

  const std::string& name() const override { return name_; }

  std::vector<std::string> Tables() override {
    return Guarded([this] { return connection_->Tables(); });
  }

  std::vector<std::string> Columns(const std::string& table) override {
    return Guarded([&] {
      odbc::Statement statement(*connection_);
      statement.Execute("SELECT * FROM " + connection_->Quote(table) + " WHERE 1 = 0",
                        "read the columns of table \"" + table + "\"");
      return statement.Columns();
    });
  }

  std::int64_t RowCount(const std::string& table) override {
    return Guarded([&] {
      odbc::Statement statement(*connection_);
      const std::string what = "count the rows of table \"" + table + "\"";
      statement.Execute("SELECT COUNT(*) FROM " + connection_->Quote(table), what);
      if (!statement.Fetch() || !statement.Row().at(0)) {
        throw odbc::Error("cannot " + what + " on " + connection_->name() + ": no count came back",
                          "");
      }
      return std::stoll(*statement.Row()[0]);
    });
  }

  // Unless the driver says it keeps one statement at a time (a driver that does not say may still
  // refuse a second: the caller falls back to reading one table at a time).
  bool ReadsTablesAtOnce() const override { return connection_->MaxActiveStatements() != 1; }

  std::unique_ptr<Rows> Read(const std::string& table) override {
    return Guarded([&]() -> std::unique_ptr<Rows> {
      auto statement = std::make_unique<odbc::Statement>(*connection_);
      statement->Execute("SELECT * FROM " + connection_->Quote(table),
                         "read table \"" + table + "\"");
      return std::make_unique<OdbcRows>(table, std::move(statement));
    });
  }

 private:
  std::string name_;
  odbc::Environment environment_;
  std::optional<odbc::Connection> connection_;
};

}  // namespace

std::unique_ptr<Source> OpenOdbc(const std::string& connection_string, const Login& login) {
  return std::make_unique<OdbcSource>(connection_string, login);
}

}  // namespace lirvo::source
