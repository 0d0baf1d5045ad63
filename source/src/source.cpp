// The parts every source shares: the URI, the rows' column lookup, dates and the date filter.
#include "lirvo/source.h"

#include <charconv>

#include <lirvo/text.h>

#include "backends.h"

namespace lirvo::source {

namespace {

// The rows of another stream whose date column lies in a range.
class DatedRows final : public Rows {
 public:
  DatedRows(std::unique_ptr<Rows> rows, std::size_t date, const DateRange& range)
      : Rows(rows->table(), rows->Columns()), rows_(std::move(rows)), date_(date), range_(range) {}

  bool Next() override {
    while (rows_->Next()) {
      const Value& text = rows_->Values()[date_];
      const auto day = text ? ParseDate(text::Trim(*text)) : std::nullopt;
      if (!day || range_.Contains(*day)) {
        values_ = rows_->Values();
        row_number_ = rows_->RowNumber();
        return true;
      }
    }
    return false;
  }

 private:
  std::unique_ptr<Rows> rows_;
  std::size_t date_;
  DateRange range_;
};

std::optional<int> Digits(std::string_view text) {
  int number = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (error != std::errc() || end != text.data() + text.size() || text.empty() ||
      text.front() == '-' || text.front() == '+') {
    return std::nullopt;
  }
  return number;
}

}  // namespace

Uri ParseUri(std::string_view text) {
  const std::size_t colon = text.find(':');
  const std::string_view scheme = text.substr(0, colon == std::string_view::npos ? 0 : colon);
  const std::string_view rest =
      colon == std::string_view::npos ? std::string_view() : text.substr(colon + 1);
  Uri uri;
  if (text::EqualsNoCase(scheme, "sqlite")) {
    uri.scheme = Scheme::kSqlite;
  } else if (text::EqualsNoCase(scheme, "odbc")) {
    uri.scheme = Scheme::kOdbc;
  } else if (text::EqualsNoCase(scheme, "access")) {
    uri.scheme = Scheme::kAccess;
  } else {
    throw Error("the source \"" + std::string(text) +
                "\" is not one Lirvo reads: write sqlite:PATH, odbc:CONNECTION-STRING (such as "
                "odbc:DSN=NAME) or access:PATH");
  }
  if (text::Trim(rest).empty()) {
    throw Error("the source \"" + std::string(text) + "\" names no " +
                (uri.scheme == Scheme::kOdbc ? "connection string" : "file") + " after \"" +
                std::string(scheme) + ":\"");
  }
  uri.target = std::string(rest);
  return uri;
}

Rows::Rows(std::string table, std::vector<std::string> columns)
    : table_(std::move(table)), columns_(std::move(columns)), values_(columns_.size()) {}

std::optional<std::size_t> Rows::Find(std::string_view column) const {
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    if (text::EqualsNoCase(columns_[i], column)) {
      return i;
    }
  }
  return std::nullopt;
}

const Value& Rows::Get(std::string_view column) const {
  const auto index = Find(column);
  if (!index) {
    throw Error("table \"" + table_ + "\" has no column \"" + std::string(column) + "\"");
  }
  return values_[*index];
}

std::optional<std::chrono::year_month_day> ParseDate(std::string_view text) {
  std::optional<int> year;
  std::optional<int> month;
  std::optional<int> day;
  std::size_t length = 0;
  if (text.size() >= 10 && text[4] == '-' && text[7] == '-') {
    year = Digits(text.substr(0, 4));
    month = Digits(text.substr(5, 2));
    day = Digits(text.substr(8, 2));
    length = 10;
  } else if (text.size() >= 8) {
    year = Digits(text.substr(0, 4));
    month = Digits(text.substr(4, 2));
    day = Digits(text.substr(6, 2));
    length = 8;
  }
  // What follows the date may only be a time ("2016-04-01 00:00:00" or "...T00:00:00").
  if (!year || !month || !day ||
      (text.size() > length && text[length] != ' ' && text[length] != 'T')) {
    return std::nullopt;
  }
  const std::chrono::year_month_day date{std::chrono::year(*year),
                                         std::chrono::month(static_cast<unsigned>(*month)),
                                         std::chrono::day(static_cast<unsigned>(*day))};
  if (!date.ok()) {
    return std::nullopt;
  }
  return date;
}

std::optional<std::string> Source::FindTable(std::string_view name) {
  for (std::string& table : Tables()) {
    if (text::EqualsNoCase(table, name)) {
      return std::move(table);
    }
  }
  return std::nullopt;
}

std::unique_ptr<Rows> Source::ReadDated(const std::string& table, std::string_view date_column,
                                        const DateRange& range) {
  std::unique_ptr<Rows> rows = Read(table);
  const auto date = rows->Find(date_column);
  if (!date) {
    throw Error("table \"" + rows->table() + "\" of " + name() + " has no column \"" +
                std::string(date_column) + "\" to choose its rows by date");
  }
  return std::make_unique<DatedRows>(std::move(rows), *date, range);
}

std::unique_ptr<Source> Open(const Uri& uri, const Login& login) {
  switch (uri.scheme) {
    case Scheme::kSqlite:
      return OpenSqlite(uri.target);
    case Scheme::kOdbc:
      return OpenOdbc(uri.target, login);
    case Scheme::kAccess:
      return OpenAccess(uri.target);
  }
  throw Error("unknown kind of source");
}

namespace {

// A source whose tables other than one are hidden; everything else is the source's own.
class OneTable final : public Source {
 public:
  OneTable(std::unique_ptr<Source> source, std::string table)
      : source_(std::move(source)), table_(std::move(table)) {}

  const std::string& name() const override { return source_->name(); }
  std::vector<std::string> Tables() override {
    std::vector<std::string> tables = source_->Tables();
    std::erase_if(tables, [this](const std::string& t) { return !text::EqualsNoCase(t, table_); });
    return tables;
  }
  std::vector<std::string> Columns(const std::string& table) override {
    return source_->Columns(table);
  }
  std::int64_t RowCount(const std::string& table) override { return source_->RowCount(table); }
  std::unique_ptr<Rows> Read(const std::string& table) override { return source_->Read(table); }
  bool ReadsTablesAtOnce() const override { return source_->ReadsTablesAtOnce(); }

 private:
  std::unique_ptr<Source> source_;
  std::string table_;
};

}  // namespace

std::unique_ptr<Source> OnlyTable(std::unique_ptr<Source> source, std::string table) {
  return std::make_unique<OneTable>(std::move(source), std::move(table));
}

}  // namespace lirvo::source
