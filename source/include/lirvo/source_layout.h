// The source layout: which tables a source holds each kind of master and document in, which
// columns they may have, and what a source offers (each kind with its rows, and the financial
// years its documents span).
#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <lirvo/source.h>

namespace lirvo::source {

// The tables of the layout.
inline constexpr std::string_view kVouchersTable = "Vouchers";
inline constexpr std::string_view kVoucherLinesTable = "VoucherLines";
inline constexpr std::string_view kSalesTable = "SalesMst";

// One kind of master or document.
struct Kind {
  std::string_view name;          // as the export dialog and --kinds name it: "stock-items"
  std::string_view table;         // masters: the table holding them; documents: "Vouchers"
  std::string_view voucher_type;  // documents: the server's voucher type ("Sales Order")
  std::string_view label;         // as the dialog's check box reads: "Stock Items"
  bool document() const { return !voucher_type.empty(); }
};

// The six masters in dependency order, then the eight documents, in the dialog's order.
std::span<const Kind> Kinds();
// The kind named `name` (as Kind::name, case-insensitive); nullptr when there is none.
const Kind* FindKind(std::string_view name);
// The document kind a Vouchers row's VoucherType names: the server's voucher type ("Sales
// Order"), the dialog's label ("Sales Orders") or the kind's name ("sales-orders"), each
// compared without regard to ASCII case and blanks around it; nullptr for anything else.
const Kind* KindOfVoucherType(std::string_view voucher_type);

// The columns a table of the layout may have, as the layout spells them: for a master table the
// record's field names but OldName (`lirvo build KIND --help`), for Vouchers and VoucherLines
// their own. Empty for a table outside the layout.
std::vector<std::string_view> AllowedColumns(std::string_view layout_table);
// The columns each row of that table must have.
std::vector<std::string_view> RequiredColumns(std::string_view layout_table);

// Checks the columns of the source's table `layout_table` (which it must hold): every column
// must be allowed (compared without regard to case) and every required one present. Throws
// Error naming the source, the table and the column.
void CheckColumns(Source& source, std::string_view layout_table);

// The Indian financial year (1 April to 31 March) `day` lies in, written "2016-17".
std::string FinancialYear(std::chrono::year_month_day day);
// The dates of the financial year written "2016-17" (the second part must follow the first);
// nothing for anything else.
std::optional<DateRange> FinancialYearRange(std::string_view year);

// What a source offers of one kind, read from one table.
struct KindRows {
  const Kind* kind = nullptr;
  std::string table;      // as the source spells it
  std::int64_t rows = 0;  // masters: rows (for SalesMst the distinct names); documents: vouchers
};

struct Offer {
  std::vector<KindRows> kinds;     // in the order of Kinds(); a kind may come from two tables
  std::vector<std::string> years;  // the financial years its documents span, ascending
  std::int64_t unknown_types = 0;  // Vouchers rows whose VoucherType names no document kind
  std::string first_unknown_type;  // the first of them, as written
  std::int64_t undated = 0;        // documents whose date does not read as one
};

// What `source` offers: each master table present (its rows), each document kind present in
// Vouchers (its vouchers), SalesMst as sales with the units, stock items and ledgers it implies,
// and the financial years of the documents' dates. Checks the columns of every layout table it
// holds first (CheckColumns). Reads Vouchers and SalesMst once, a row at a time. Throws Error.
Offer Survey(Source& source);

}  // namespace lirvo::source
