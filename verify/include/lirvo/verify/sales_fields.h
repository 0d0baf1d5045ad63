// The fields of a sales row bound to and read from the spool's columns, in SalesMst's order.
#pragma once

#include <optional>
#include <string>

#include <lirvo/books/sales.h>
#include <lirvo/sqlite.h>

namespace lirvo::verify {

using books::SalesRow;

// Binds the fields of `row` to the parameters from `first` on, uncopied: `row` must outlive the
// statement's next run.
inline void BindSalesFields(sqlite::Statement& statement, int first, const SalesRow& row) {
  for (const auto& column : books::kSalesMstColumns) {
    const std::optional<std::string>& field = row.*column.first;
    if (field) {
      statement.BindUncopied(first++, *field);
    } else {
      statement.Bind(first++, field);
    }
  }
}

// The row read back from the columns from `first` on.
inline SalesRow SalesFieldsAt(const sqlite::Statement& query, int first) {
  SalesRow row;
  for (const auto& column : books::kSalesMstColumns) {
    row.*column.first = query.OptionalText(first++);
  }
  return row;
}

}  // namespace lirvo::verify
