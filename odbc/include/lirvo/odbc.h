// Small owning wrappers over unixODBC: an environment, a connection and its statements. Every
// failure carries what was being done, on which data source, and the driver's own words
// (SQLSTATE and message) with the login's password removed. Internal to Lirvo (the sources of
// rows); not installed.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace lirvo::odbc {

// Any failure of the driver manager or a driver: "cannot connect to DSN=books: [28P01]
// password authentication failed for user "x"".
class Error : public std::runtime_error {
 public:
  Error(const std::string& message, std::string sqlstate)
      : std::runtime_error(message), sqlstate_(std::move(sqlstate)) {}
  // The SQLSTATE of the driver's first diagnostic; empty when there was none.
  const std::string& sqlstate() const { return sqlstate_; }

 private:
  std::string sqlstate_;
};

// The user name and password of a connection, given apart from its connection string so that
// neither is ever part of a message.
struct Login {
  std::string user;
  std::string password;
};

// `connection_string` without its UID and PWD (or USER and PASSWORD) attributes: how messages
// name a data source.
std::string Scrubbed(std::string_view connection_string);

namespace detail {
struct FreeHandle {
  short type;
  void operator()(void* handle) const;
};
using Handle = std::unique_ptr<void, FreeHandle>;
}  // namespace detail

// The ODBC environment (version 3). Owns its handle; move-only.
class Environment {
 public:
  // Throws Error when the driver manager cannot allocate it.
  Environment();
  void* handle() const { return handle_.get(); }

 private:
  detail::Handle handle_;
};

// One connection. The environment must outlive it. Not thread-safe.
class Connection {
 public:
  // Connects with `connection_string` ("DSN=books" or "DRIVER=...;SERVER=...;DATABASE=..."),
  // adding the login's UID and PWD when given; a connection that takes longer than
  // `login_timeout` fails (where the driver honours it). Throws Error naming the data source
  // (without UID and PWD) with the driver's reason.
  Connection(const Environment& environment, std::string_view connection_string,
             const Login& login = {},
             std::chrono::seconds login_timeout = std::chrono::seconds(15));
  ~Connection();
  Connection(Connection&&) noexcept = default;
  // Not assignable: the connection held would have to be closed first (hold it in an optional).
  Connection& operator=(Connection&&) = delete;

  // How messages name the data source: its connection string without UID and PWD.
  const std::string& name() const { return name_; }
  // The tables and views the catalog lists, as it spells them. Throws Error.
  std::vector<std::string> Tables();
  // The driver's file name as it reports it ("psqlodbcw.so"); empty when it does not say.
  std::string DriverName() const;
  // How many statements the driver keeps active at once on the connection; 0 when it sets no
  // limit or does not say.
  unsigned MaxActiveStatements() const;
  // `identifier` quoted the way the driver quotes identifiers ("Ledgers" becomes "\"Ledgers\"").
  std::string Quote(std::string_view identifier) const;
  // Runs `sql`, which returns no rows. `what` says what is being done, for failures. Throws Error.
  void Execute(std::string_view sql, std::string_view what);

  void* handle() const { return handle_.get(); }
  // The failure for a call on `handle` of `type` that returned `result`: "cannot <what> on
  // <name>: [SQLSTATE] message", the password removed.
  [[noreturn]] void Fail(short type, void* handle, std::string_view what) const;

 private:
  detail::Handle handle_;
  std::string name_;
  std::string password_;  // to remove from diagnostics
  std::string quote_;
};

// A column value as text (UTF-8); nothing for NULL, so that an empty text stays distinct.
using Value = std::optional<std::string>;

// One statement on a connection, which must outlive it. Rows are read one at a time; values of
// any length are read in pieces.
class Statement {
 public:
  explicit Statement(Connection& connection);

  // Runs `sql`. `what` says what is being done, for failures ("read table \"Ledgers\"").
  // Throws Error.
  void Execute(std::string_view sql, std::string_view what);
  // Runs the catalog's list of tables and views (columns as SQLTables gives them).
  void ListTables();
  // The result's column names, in order.
  const std::vector<std::string>& Columns() const { return columns_; }
  // Moves to the next row: false when there is none. Throws Error.
  bool Fetch();
  // The current row's values, in column order.
  const std::vector<Value>& Row() const { return row_; }

 private:
  void DescribeColumns();
  void BindColumns();
  void ReadValue(std::size_t column);
  // The current row's value of `column` from its UTF-16 units.
  void SetValue(std::size_t column, std::u16string_view units);

  Connection* connection_;
  detail::Handle handle_;
  std::string what_;
  std::vector<std::string> columns_;
  std::vector<Value> row_;
  std::u16string piece_;  // one value's UTF-16 as it comes, reused from value to value
  // When the driver lets a bound column be read again with SQLGetData: a buffer of kBoundUnits
  // UTF-16 units for each column, which SQLFetch fills, and the length of each value in bytes.
  std::vector<char16_t> bound_;
  std::vector<std::int64_t> bound_lengths_;
};

}  // namespace lirvo::odbc
