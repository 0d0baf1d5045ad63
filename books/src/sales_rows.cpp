// The sync's rows: the streamed table, the local checks a row must pass before it is sent, and
// the digest that tells a changed voucher from one already accepted.
#include <lirvo/books/sales.h>

#include <lirvo/books/document.h>

#include <chrono>
#include <cmath>

#include <lirvo/encoding.h>
#include <lirvo/salesdb.h>
#include <lirvo/text.h>

#include "internal.h"

namespace lirvo::books {

namespace {

using modTally::Failure;

constexpr const char* kTable = "SalesMst";

bool Blank(const std::optional<std::string>& value) {
  return !value || text::Trim(*value).empty();
}

// Whether the whole of `value` (blanks around it aside) is one decimal number.
bool IsPlainNumber(std::string_view value) {
  double number = 0;
  return detail::ReadDouble(value, number) == std::errc() && std::isfinite(number);
}

// Every value of `row` without the blanks at its ends.
void NormalizeInPlace(SalesRow& row) {
  for (std::optional<std::string>* value :
       {&row.VoucherID, &row.VoucherDate, &row.RefNo, &row.PartyName, &row.SalesLedger, &row.TaxAc,
        &row.ItemName, &row.Unit, &row.Qty, &row.Rate, &row.Amount, &row.TaxPer}) {
    if (*value) {
      const std::string_view trimmed = text::Trim(**value);
      if (trimmed.size() != (*value)->size()) {
        **value = std::string(trimmed);
      }
    }
  }
}

}  // namespace

SalesRow Normalized(SalesRow row) {
  NormalizeInPlace(row);
  return row;
}

const SalesRow& SalesSource::Normalize() {
  NormalizeInPlace(row_);
  return row_;
}

bool IsCalendarDate(std::string_view date) {
  if (date.size() != 8 || date.find_first_not_of("0123456789") != std::string_view::npos) {
    return false;
  }
  const auto number = [&date](std::size_t at, std::size_t length) {
    unsigned value = 0;
    for (const char digit : date.substr(at, length)) {
      value = value * 10 + static_cast<unsigned>(digit - '0');
    }
    return value;
  };
  const std::chrono::year_month_day day{std::chrono::year{static_cast<int>(number(0, 4))},
                                        std::chrono::month{number(4, 2)},
                                        std::chrono::day{number(6, 2)}};
  return day.ok();
}

SalesSource::SalesSource(const std::filesystem::path& database) : path_(database) {
  access::SalesDatabase db(database);
  rows_ = std::make_unique<access::Recordset>(db.Open(std::string("Select * from ") + kTable));
}

SalesSource::SalesSource(SalesRows rows) : path_(rows.name), other_(std::move(rows)) {}

SalesSource::~SalesSource() = default;
SalesSource::SalesSource(SalesSource&&) noexcept = default;
SalesSource& SalesSource::operator=(SalesSource&&) noexcept = default;

long SalesSource::RowCount() const {
  return other_ ? other_->count() : rows_->RecordCount();
}

bool SalesSource::Next() {
  if (other_) {
    std::optional<SalesRow> row = other_->next();
    if (!row) {
      return false;
    }
    row_ = std::move(*row);
    ++number_;
    return true;
  }
  try {
    if (number_ > 0) {
      rows_->MoveNext();
    }
    if (rows_->AtEnd()) {
      return false;
    }
    if (!columns_) {
      columns_ = SalesColumnsOf(*rows_);
    }
    ReadSalesRow(*rows_, *columns_, row_);
  } catch (const Failure& failure) {
    throw Failure(failure, "cannot read row " + std::to_string(number_ + 1) + " of " + kTable +
                               " in " + path_.string() + ": " + failure.description());
  }
  ++number_;
  return true;
}

std::optional<std::string> LocalCheck(const SalesRow& row) {
  const std::pair<const std::optional<std::string> SalesRow::*, const char*> required[] = {
      {&SalesRow::VoucherID, "VoucherID (the voucher's REMOTEID)"},
      {&SalesRow::VoucherDate, "VoucherDate"},
      {&SalesRow::PartyName, "PartyName (the party ledger)"},
      {&SalesRow::SalesLedger, "SalesLedger"},
      {&SalesRow::TaxAc, "TaxAc (the tax ledger)"},
      {&SalesRow::ItemName, "ItemName (the stock item)"},
      {&SalesRow::Unit, "Unit"},
      {&SalesRow::Amount, "Amount"},
      {&SalesRow::TaxPer, "TaxPer (the tax rate)"},
  };
  for (const auto& [member, what] : required) {
    if (Blank(row.*member)) {
      return std::string("no ") + what;
    }
  }
  if (!IsCalendarDate(text::Trim(*row.VoucherDate))) {
    return "VoucherDate \"" + *row.VoucherDate + "\" is not a date (YYYYMMDD)";
  }
  if (!IsPlainNumber(*row.Amount)) {
    return "Amount \"" + *row.Amount + "\" is not a number";
  }
  if (row.TaxPer->find_first_of("0123456789") == std::string::npos) {
    return "TaxPer \"" + *row.TaxPer + "\" is not a number";
  }
  try {
    const SalesVoucherFigures figures = VoucherFigures(row);
    if (!std::isfinite(figures.gross) || !std::isfinite(figures.tax)) {
      return "Amount " + *row.Amount + " with TaxPer " + *row.TaxPer +
             " gives a total too large for a voucher";
    }
  } catch (const Failure& failure) {
    return failure.description();
  }
  return std::nullopt;
}

std::optional<std::string> Windows1252Loss(const SalesRow& row) {
  for (const auto& [member, column] : kSalesMstColumns) {
    const std::optional<std::string>& value = row.*member;
    if (!value || member == &SalesRow::TaxPer) {  // TaxPer is read as a number, never sent
      continue;
    }
    if (std::optional<std::string> loss = Windows1252Loss(std::string_view(*value))) {
      return std::string(column) + " \"" + *value + "\" " + *loss;
    }
  }
  return std::nullopt;
}

}  // namespace lirvo::books
