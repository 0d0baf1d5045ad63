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
    Guarded([&] {
      connection_.emplace(environment_, connection_string, odbc_login);
      // PostgreSQL's driver reads a whole result into memory unless told to fetch through a
      // cursor, a block of rows at a time: connect again so, unless the string says otherwise.
      const std::string driver = text::FoldCase(connection_->DriverName());
      if (driver.find("psqlodbc") != std::string::npos &&
          text::FoldCase(connection_string).find("usedeclarefetch") == std::string::npos) {
        connection_.reset();
        std::string cursor = connection_string;
        while (!cursor.empty() && (cursor.back() == ';' || cursor.back() == ' ')) {
          cursor.pop_back();
        }
        connection_.emplace(environment_, cursor + ";UseDeclareFetch=1;Fetch=1000", odbc_login);
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
