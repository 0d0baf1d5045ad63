#include "lirvo/sales_rows.h"

#include <array>
#include <cstdio>

#include "lirvo/source_layout.h"

namespace lirvo::source {

namespace {

using Member = std::optional<std::string> books::SalesRow::*;

constexpr std::array<std::pair<const char*, Member>, 12> kColumns{{
    {"VoucherID", &books::SalesRow::VoucherID},
    {"VoucherDate", &books::SalesRow::VoucherDate},
    {"RefNo", &books::SalesRow::RefNo},
    {"PartyName", &books::SalesRow::PartyName},
    {"SalesLedger", &books::SalesRow::SalesLedger},
    {"TaxAc", &books::SalesRow::TaxAc},
    {"ItemName", &books::SalesRow::ItemName},
    {"Unit", &books::SalesRow::Unit},
    {"Qty", &books::SalesRow::Qty},
    {"Rate", &books::SalesRow::Rate},
    {"Amount", &books::SalesRow::Amount},
    {"TaxPer", &books::SalesRow::TaxPer},
}};

// A date as the Access reader writes it (YYYYMMDD); a text that is no date stays as it is, for the
// row's checks to name.
std::string AccessDate(const std::string& text) {
  const std::optional<std::chrono::year_month_day> day = ParseDate(text);
  if (!day) {
    return text;
  }
  char written[16];
  std::snprintf(written, sizeof written, "%04d%02u%02u", static_cast<int>(day->year()),
                static_cast<unsigned>(day->month()), static_cast<unsigned>(day->day()));
  return written;
}

}  // namespace

books::SalesRows SalesRowsOf(std::shared_ptr<Source> source,
                             const std::optional<DateRange>& range) {
  const std::optional<std::string> table = source->FindTable(kSalesTable);
  if (!table) {
    throw Error(source->name() + " has no table or view " + std::string(kSalesTable));
  }
  // The rows go before the source they read from, whichever copy goes last.
  struct Reading {
    std::shared_ptr<Source> source;
    std::unique_ptr<Rows> rows;
  };
  const auto read = [&source, &table, &range] {
    return range ? source->ReadDated(*table, "VoucherDate", *range) : source->Read(*table);
  };
  const auto reading = std::make_shared<Reading>(Reading{source, read()});
  Rows* const rows = reading->rows.get();
  std::array<std::optional<std::size_t>, kColumns.size()> at;
  for (std::size_t i = 0; i < kColumns.size(); ++i) {
    at[i] = rows->Find(kColumns[i].first);
  }
  books::SalesRows sales;
  sales.name = source->name() + " (" + *table + ")";
  if (range) {
    sales.count = [reading, name = *table, range = *range] {
      const std::unique_ptr<Rows> counted = reading->source->ReadDated(name, "VoucherDate", range);
      long count = 0;
      while (counted->Next()) {
        ++count;
      }
      return count;
    };
  } else {
    sales.count = [reading, name = *table] {
      return static_cast<long>(reading->source->RowCount(name));
    };
  }
  sales.next = [reading, rows, at]() -> std::optional<books::SalesRow> {
    if (!rows->Next()) {
      return std::nullopt;
    }
    books::SalesRow row;
    for (std::size_t i = 0; i < kColumns.size(); ++i) {
      if (at[i]) {
        row.*kColumns[i].second = rows->Values()[*at[i]];
      }
    }
    if (row.VoucherDate) {
      row.VoucherDate = AccessDate(*row.VoucherDate);
    }
    return row;
  };
  return sales;
}

}  // namespace lirvo::source
