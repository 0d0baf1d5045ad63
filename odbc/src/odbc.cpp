// The unixODBC wrappers. Text comes from the driver as UTF-16 (SQL_C_WCHAR) and is converted
// here, so that values read the same whatever client encoding the driver would choose for narrow
// text. The connection string's handling, the diagnostics and the three handle wrappers stay
// together: every wrapper reports through the diagnostics with the password removed (hence a little
// over 500 lines).
#include "lirvo/odbc.h"

#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <array>
#include <cctype>

#include <lirvo/encoding.h>

namespace lirvo::odbc {

namespace {

static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "unixODBC's SQLWCHAR is UTF-16");

bool Succeeded(SQLRETURN result) {
  return result == SQL_SUCCESS || result == SQL_SUCCESS_WITH_INFO;
}

std::string Upper(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) {
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  return upper;
}

// The attributes of a connection string, each "KEY=value" with its ";" (a value in braces may
// hold ";", with "}}" for "}").
std::vector<std::string_view> Attributes(std::string_view text) {
  std::vector<std::string_view> attributes;
  std::size_t start = 0;
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] == '{') {
      for (++i; i < text.size(); ++i) {
        if (text[i] == '}') {
          if (i + 1 < text.size() && text[i + 1] == '}') {
            ++i;
          } else {
            break;
          }
        }
      }
    } else if (text[i] == ';') {
      attributes.push_back(text.substr(start, i - start));
      start = i + 1;
    }
    ++i;
  }
  if (start < text.size()) {
    attributes.push_back(text.substr(start));
  }
  return attributes;
}

std::string KeyOf(std::string_view attribute) {
  const std::size_t equals = attribute.find('=');
  std::string_view key = attribute.substr(0, equals);
  while (!key.empty() && std::isspace(static_cast<unsigned char>(key.front()))) {
    key.remove_prefix(1);
  }
  while (!key.empty() && std::isspace(static_cast<unsigned char>(key.back()))) {
    key.remove_suffix(1);
  }
  return Upper(key);
}

bool IsSecret(const std::string& key) {
  return key == "PWD" || key == "PASSWORD" || key == "UID" || key == "USER" || key == "USERNAME";
}

// The value of a secret attribute, without its braces.
std::string ValueOf(std::string_view attribute) {
  const std::size_t equals = attribute.find('=');
  if (equals == std::string_view::npos) {
    return {};
  }
  std::string_view value = attribute.substr(equals + 1);
  if (value.size() >= 2 && value.front() == '{' && value.back() == '}') {
    std::string unbraced;
    value = value.substr(1, value.size() - 2);
    for (std::size_t i = 0; i < value.size(); ++i) {
      unbraced += value[i];
      if (value[i] == '}' && i + 1 < value.size() && value[i + 1] == '}') {
        ++i;
      }
    }
    return unbraced;
  }
  return std::string(value);
}

// `value` as a connection-string value: in braces when it holds what would end it.
std::string AttributeValue(std::string_view value) {
  const bool plain = value.find_first_of(";{}=") == std::string_view::npos &&
                     (value.empty() || (!std::isspace(static_cast<unsigned char>(value.front())) &&
                                        !std::isspace(static_cast<unsigned char>(value.back()))));
  if (plain) {
    return std::string(value);
  }
  std::string braced = "{";
  for (const char c : value) {
    braced += c;
    if (c == '}') {
      braced += '}';
    }
  }
  return braced + "}";
}

// UTF-16 to UTF-8; a lone surrogate becomes U+FFFD. Most values of a business database are ASCII
// from end to end: a leading run of ASCII is copied a unit to a byte into room made once, and
// only what follows it goes a character at a time.
void Utf16ToUtf8(std::u16string_view in, std::string& out) {
  std::size_t ascii = 0;
  while (ascii < in.size() && in[ascii] < 0x80) {
    ++ascii;
  }
  out.resize(ascii);
  std::transform(in.begin(), in.begin() + static_cast<std::ptrdiff_t>(ascii), out.begin(),
                 [](char16_t unit) { return static_cast<char>(unit); });
  if (ascii == in.size()) {
    return;
  }
  out.reserve(in.size() + (in.size() - ascii) * 2);
  for (std::size_t i = ascii; i < in.size(); ++i) {
    const char16_t unit = in[i];
    if (unit < 0x80) {
      out += static_cast<char>(unit);
    } else if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < in.size() && in[i + 1] >= 0xDC00 &&
               in[i + 1] <= 0xDFFF) {
      encoding::AppendUtf8(out, 0x10000 + ((char32_t(unit) - 0xD800) << 10) + (in[i + 1] - 0xDC00));
      ++i;
    } else if (unit >= 0xD800 && unit <= 0xDFFF) {
      encoding::AppendUtf8(out, 0xFFFD);
    } else {
      encoding::AppendUtf8(out, unit);
    }
  }
}

// Replaces every occurrence of `secret` in `text` with "***".
void Remove(std::string& text, const std::string& secret) {
  if (secret.empty()) {
    return;
  }
  for (std::size_t at = text.find(secret); at != std::string::npos;
       at = text.find(secret, at + 3)) {
    text.replace(at, secret.size(), "***");
  }
}

// The driver's diagnostics of `handle`: "[SQLSTATE] message; [SQLSTATE] message", the driver
// managers' "[unixODBC][Driver Manager]" tags and line breaks taken out. Sets `sqlstate` to the
// first record's.
std::string Diagnostics(SQLSMALLINT type, SQLHANDLE handle, std::string& sqlstate) {
  std::string text;
  for (SQLSMALLINT record = 1; record <= 3; ++record) {
    std::array<SQLCHAR, 6> state{};
    SQLINTEGER native = 0;
    std::array<SQLCHAR, 1024> message{};
    SQLSMALLINT length = 0;
    const SQLRETURN result =
        SQLGetDiagRec(type, handle, record, state.data(), &native, message.data(),
                      static_cast<SQLSMALLINT>(message.size()), &length);
    if (!Succeeded(result)) {
      break;
    }
    std::string words(reinterpret_cast<const char*>(message.data()));
    while (!words.empty() && words.front() == '[') {
      const std::size_t close = words.find(']');
      if (close == std::string::npos) {
        break;
      }
      words.erase(0, close + 1);
    }
    for (char& c : words) {
      if (c == '\n' || c == '\r' || c == '\t') {
        c = ' ';
      }
    }
    words.erase(std::unique(words.begin(), words.end(),
                            [](char a, char b) { return a == ' ' && b == ' '; }),
                words.end());
    const auto last = words.find_last_not_of(' ');
    words.erase(last == std::string::npos ? 0 : last + 1);
    const auto first = words.find_first_not_of(' ');
    words.erase(0, first == std::string::npos ? words.size() : first);
    const std::string code(reinterpret_cast<const char*>(state.data()));
    if (sqlstate.empty()) {
      sqlstate = code;
    }
    text += (text.empty() ? "" : "; ") + ("[" + code + "] " + words);
  }
  return text.empty() ? "the driver gave no reason" : text;
}

detail::Handle Allocate(SQLSMALLINT type, SQLHANDLE parent) {
  SQLHANDLE handle = SQL_NULL_HANDLE;
  const SQLRETURN result = SQLAllocHandle(type, parent, &handle);
  if (!Succeeded(result) || handle == SQL_NULL_HANDLE) {
    return detail::Handle(nullptr, detail::FreeHandle{type});
  }
  return detail::Handle(handle, detail::FreeHandle{type});
}

}  // namespace

void detail::FreeHandle::operator()(void* handle) const {
  if (handle != nullptr) {
    SQLFreeHandle(type, handle);
  }
}

std::string Scrubbed(std::string_view connection_string) {
  std::string kept;
  for (const std::string_view attribute : Attributes(connection_string)) {
    if (IsSecret(KeyOf(attribute))) {
      continue;
    }
    kept += (kept.empty() ? "" : ";") + std::string(attribute);
  }
  return kept;
}

Environment::Environment() : handle_(Allocate(SQL_HANDLE_ENV, SQL_NULL_HANDLE)) {
  if (!handle_) {
    throw Error("cannot start ODBC: the driver manager could not allocate an environment", "");
  }
  const SQLRETURN result =
      SQLSetEnvAttr(handle_.get(), SQL_ATTR_ODBC_VERSION,
                    reinterpret_cast<SQLPOINTER>(static_cast<std::intptr_t>(SQL_OV_ODBC3)), 0);
  if (!Succeeded(result)) {
    std::string state;
    throw Error("cannot start ODBC version 3: " + Diagnostics(SQL_HANDLE_ENV, handle_.get(), state),
                state);
  }
}

Connection::Connection(const Environment& environment, std::string_view connection_string,
                       const Login& login, std::chrono::seconds login_timeout)
    : handle_(Allocate(SQL_HANDLE_DBC, environment.handle())),
      name_(Scrubbed(connection_string)),
      password_(login.password) {
  for (const std::string_view attribute : Attributes(connection_string)) {
    const std::string key = KeyOf(attribute);
    if (key == "PWD" || key == "PASSWORD") {
      password_ = ValueOf(attribute);  // one written into the string is kept out of messages too
    }
  }
  if (!handle_) {
    throw Error(
        "cannot connect to " + name_ + ": the driver manager could not allocate a connection", "");
  }
  std::string full(connection_string);
  while (!full.empty() && (full.back() == ';' || full.back() == ' ')) {
    full.pop_back();
  }
  if (!login.user.empty()) {
    full += ";UID=" + AttributeValue(login.user);
  }
  if (!login.password.empty()) {
    full += ";PWD=" + AttributeValue(login.password);
  }
  SQLSetConnectAttr(handle_.get(), SQL_ATTR_LOGIN_TIMEOUT,
                    reinterpret_cast<SQLPOINTER>(static_cast<std::intptr_t>(login_timeout.count())),
                    0);
  std::array<SQLCHAR, 1024> out{};
  SQLSMALLINT out_length = 0;
  const SQLRETURN result =
      SQLDriverConnect(handle_.get(), nullptr, reinterpret_cast<SQLCHAR*>(full.data()),
                       static_cast<SQLSMALLINT>(full.size()), out.data(),
                       static_cast<SQLSMALLINT>(out.size()), &out_length, SQL_DRIVER_NOPROMPT);
  std::fill(full.begin(), full.end(), '\0');
  if (!Succeeded(result)) {
    Fail(SQL_HANDLE_DBC, handle_.get(), "connect");
  }
  std::array<SQLCHAR, 8> quote{};
  SQLSMALLINT quote_length = 0;
  if (Succeeded(SQLGetInfo(handle_.get(), SQL_IDENTIFIER_QUOTE_CHAR, quote.data(),
                           static_cast<SQLSMALLINT>(quote.size()), &quote_length))) {
    quote_ = reinterpret_cast<const char*>(quote.data());
  }
  if (quote_ == " ") {
    quote_.clear();
  }
}

Connection::~Connection() {
  if (handle_) {
    SQLDisconnect(handle_.get());
  }
}

void Connection::Fail(short type, void* handle, std::string_view what) const {
  std::string state;
  const std::string place = what == "connect" ? " to " : " on ";
  std::string message =
      "cannot " + std::string(what) + place + name_ + ": " + Diagnostics(type, handle, state);
  Remove(message, password_);
  throw Error(message, state);
}

std::string Connection::DriverName() const {
  std::array<SQLCHAR, 256> name{};
  SQLSMALLINT length = 0;
  if (!Succeeded(SQLGetInfo(handle_.get(), SQL_DRIVER_NAME, name.data(),
                            static_cast<SQLSMALLINT>(name.size()), &length))) {
    return {};
  }
  return reinterpret_cast<const char*>(name.data());
}

unsigned Connection::MaxActiveStatements() const {
  SQLUSMALLINT most = 0;
  SQLSMALLINT length = 0;
  if (!Succeeded(
          SQLGetInfo(handle_.get(), SQL_MAX_CONCURRENT_ACTIVITIES, &most, sizeof most, &length))) {
    return 0;
  }
  return most;
}

std::string Connection::Quote(std::string_view identifier) const {
  if (quote_.empty()) {
    return std::string(identifier);
  }
  std::string quoted = quote_;
  for (const char c : identifier) {
    quoted += c;
    if (quote_.size() == 1 && c == quote_[0]) {
      quoted += c;
    }
  }
  return quoted + quote_;
}

std::vector<std::string> Connection::Tables() {
  Statement statement(*this);
  statement.ListTables();
  std::vector<std::string> tables;
  while (statement.Fetch()) {
    // The third column of the catalog's list is the table's name.
    if (statement.Row().size() >= 3 && statement.Row()[2]) {
      tables.push_back(*statement.Row()[2]);
    }
  }
  return tables;
}

void Connection::Execute(std::string_view sql, std::string_view what) {
  Statement statement(*this);
  statement.Execute(sql, what);
}

Statement::Statement(Connection& connection)
    : connection_(&connection), handle_(Allocate(SQL_HANDLE_STMT, connection.handle())) {
  if (!handle_) {
    connection.Fail(SQL_HANDLE_DBC, connection.handle(), "prepare a statement");
  }
}

void Statement::Execute(std::string_view sql, std::string_view what) {
  what_ = what;
  SQLFreeStmt(handle_.get(), SQL_CLOSE);
  std::string text(sql);
  const SQLRETURN result = SQLExecDirect(handle_.get(), reinterpret_cast<SQLCHAR*>(text.data()),
                                         static_cast<SQLINTEGER>(text.size()));
  if (!Succeeded(result) && result != SQL_NO_DATA) {
    connection_->Fail(SQL_HANDLE_STMT, handle_.get(), what_);
  }
  DescribeColumns();
}

void Statement::ListTables() {
  what_ = "list the tables";
  SQLFreeStmt(handle_.get(), SQL_CLOSE);
  std::string types = "TABLE,VIEW";
  const SQLRETURN result =
      SQLTables(handle_.get(), nullptr, 0, nullptr, 0, nullptr, 0,
                reinterpret_cast<SQLCHAR*>(types.data()), static_cast<SQLSMALLINT>(types.size()));
  if (!Succeeded(result)) {
    connection_->Fail(SQL_HANDLE_STMT, handle_.get(), what_);
  }
  DescribeColumns();
}

void Statement::DescribeColumns() {
  columns_.clear();
  SQLSMALLINT count = 0;
  if (!Succeeded(SQLNumResultCols(handle_.get(), &count))) {
    connection_->Fail(SQL_HANDLE_STMT, handle_.get(), what_);
  }
  for (SQLSMALLINT column = 1; column <= count; ++column) {  // columns count from 1 in ODBC
    std::array<SQLCHAR, 512> name{};
    SQLSMALLINT length = 0;
    SQLSMALLINT type = 0;
    SQLULEN size = 0;
    SQLSMALLINT digits = 0;
    SQLSMALLINT nullable = 0;
    if (!Succeeded(SQLDescribeCol(handle_.get(), column, name.data(),
                                  static_cast<SQLSMALLINT>(name.size()), &length, &type, &size,
                                  &digits, &nullable))) {
      connection_->Fail(SQL_HANDLE_STMT, handle_.get(), what_);
    }
    columns_.emplace_back(reinterpret_cast<const char*>(name.data()));
  }
  row_.assign(columns_.size(), std::nullopt);
  BindColumns();
}

namespace {

// The UTF-16 units a bound column holds; a longer value is read again with SQLGetData.
constexpr std::size_t kBoundUnits = 256;

static_assert(sizeof(SQLWCHAR) == sizeof(char16_t) && sizeof(SQLLEN) == sizeof(std::int64_t));

}  // namespace

void Statement::BindColumns() {
  SQLFreeStmt(handle_.get(), SQL_UNBIND);  // the last result's columns
  bound_.clear();
  bound_lengths_.clear();
  // SQLGetData for each value of each row cost the driver a third more than converting the row
  // into bound buffers in SQLFetch. A value too long for its buffer is read again from its start
  // with SQLGetData, which a driver allows on a bound column only when it says so.
  SQLUINTEGER extensions = 0;
  if (columns_.empty() ||
      !Succeeded(SQLGetInfo(connection_->handle(), SQL_GETDATA_EXTENSIONS, &extensions,
                            sizeof extensions, nullptr)) ||
      (extensions & SQL_GD_BOUND) == 0) {
    return;
  }
  bound_.resize(columns_.size() * kBoundUnits);
  bound_lengths_.resize(columns_.size());
  for (std::size_t column = 0; column < columns_.size(); ++column) {
    if (!Succeeded(SQLBindCol(handle_.get(), static_cast<SQLUSMALLINT>(column + 1), SQL_C_WCHAR,
                              &bound_[column * kBoundUnits],
                              static_cast<SQLLEN>(kBoundUnits * sizeof(SQLWCHAR)),
                              reinterpret_cast<SQLLEN*>(&bound_lengths_[column])))) {
      connection_->Fail(SQL_HANDLE_STMT, handle_.get(), what_);
    }
  }
}

bool Statement::Fetch() {
  if (columns_.empty()) {
    return false;
  }
  const SQLRETURN result = SQLFetch(handle_.get());
  if (result == SQL_NO_DATA) {
    return false;
  }
  if (!Succeeded(result)) {
    connection_->Fail(SQL_HANDLE_STMT, handle_.get(), what_);
  }
  for (std::size_t column = 0; column < columns_.size(); ++column) {
    if (bound_.empty()) {
      ReadValue(column);
      continue;
    }
    const std::int64_t length = bound_lengths_[column];
    if (length == SQL_NULL_DATA) {
      row_[column].reset();
    } else if (length >= 0 && static_cast<std::size_t>(length) / sizeof(SQLWCHAR) < kBoundUnits) {
      SetValue(column, std::u16string_view(&bound_[column * kBoundUnits],
                                           static_cast<std::size_t>(length) / sizeof(SQLWCHAR)));
    } else {
      ReadValue(column);  // cut short in its buffer, or of a length the driver did not say
    }
  }
  return true;
}

void Statement::ReadValue(std::size_t column) {
  // A value longer than the buffer comes in pieces: each call gives the next part, with
  // SQL_SUCCESS_WITH_INFO (01004) while more is left. The buffer is not cleared first: the driver
  // writes what it gives, and clearing 4 KiB for every value of every row cost more than reading
  // the value.
  std::array<SQLWCHAR, 2048> buffer;
  piece_.clear();
  bool null = false;
  for (;;) {
    SQLLEN indicator = 0;
    const SQLRETURN result =
        SQLGetData(handle_.get(), static_cast<SQLUSMALLINT>(column + 1), SQL_C_WCHAR, buffer.data(),
                   static_cast<SQLLEN>(buffer.size() * sizeof(SQLWCHAR)), &indicator);
    if (result == SQL_NO_DATA) {
      break;
    }
    if (!Succeeded(result)) {
      connection_->Fail(SQL_HANDLE_STMT, handle_.get(),
                        what_ + ", column \"" + columns_[column] + "\"");
    }
    if (indicator == SQL_NULL_DATA) {
      null = true;
      break;
    }
    const std::size_t room = buffer.size() - 1;  // the last unit holds the terminating zero
    std::size_t units = room;
    if (indicator != SQL_NO_TOTAL &&
        static_cast<std::size_t>(indicator) / sizeof(SQLWCHAR) < room) {
      units = static_cast<std::size_t>(indicator) / sizeof(SQLWCHAR);
    }
    piece_.append(reinterpret_cast<const char16_t*>(buffer.data()), units);
    if (result == SQL_SUCCESS) {
      break;
    }
  }
  if (null) {
    row_[column].reset();
    return;
  }
  SetValue(column, piece_);
}

void Statement::SetValue(std::size_t column, std::u16string_view units) {
  if (!row_[column]) {
    row_[column].emplace();
  }
  Utf16ToUtf8(units, *row_[column]);
}

}  // namespace lirvo::odbc
