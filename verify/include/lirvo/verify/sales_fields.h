// The fields of a sales row in the order the spool keeps them as columns.
#pragma once

#include <optional>
#include <string>

#include <lirvo/books/sales.h>
#include <lirvo/sqlite.h>

namespace lirvo::verify {

using books::SalesRow;

inline constexpr std::optional<std::string> SalesRow::*kSalesFields[] = {
    &SalesRow::VoucherID,   &SalesRow::VoucherDate, &SalesRow::RefNo,    &SalesRow::PartyName,
    &SalesRow::SalesLedger, &SalesRow::TaxAc,       &SalesRow::ItemName, &SalesRow::Unit,
    &SalesRow::Qty,         &SalesRow::Rate,        &SalesRow::Amount,   &SalesRow::TaxPer};

// Binds the fields of `row` to the parameters from `first` on, uncopied: `row` must outlive the
// statement's next run.
inline void BindSalesFields(sqlite::Statement& statement, int first, const SalesRow& row) {
  for (std::optional<std::string> SalesRow::*member : kSalesFields) {
    const std::optional<std::string>& field = row.*member;
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
  for (std::optional<std::string> SalesRow::*member : kSalesFields) {
    row.*member = query.OptionalText(first++);
  }
  return row;
}

}  // namespace lirvo::verify
