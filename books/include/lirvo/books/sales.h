// The sales voucher: one SalesMst row as the voucher takes it, read from an Access database or
// another source; its local checks, its figures, and the request it becomes.
#pragma once

#include <array>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include <lirvo/modTally.h>

namespace lirvo::access {
class Recordset;
}

namespace lirvo::books {

// The columns of one SalesMst row that a voucher uses, as text forms; no value for a null.
struct SalesRow {
  std::optional<std::string> VoucherID;
  std::optional<std::string> VoucherDate;
  std::optional<std::string> RefNo;
  std::optional<std::string> PartyName;
  std::optional<std::string> SalesLedger;
  std::optional<std::string> TaxAc;
  std::optional<std::string> ItemName;
  std::optional<std::string> Unit;
  std::optional<std::string> Qty;
  std::optional<std::string> Rate;
  std::optional<std::string> Amount;
  std::optional<std::string> TaxPer;
};

// The columns of SalesMst, each with the field it fills, in table order.
inline constexpr std::pair<std::optional<std::string> SalesRow::*, const char*> kSalesMstColumns[] =
    {{&SalesRow::VoucherID, "VoucherID"},
     {&SalesRow::VoucherDate, "VoucherDate"},
     {&SalesRow::RefNo, "RefNo"},
     {&SalesRow::PartyName, "PartyName"},
     {&SalesRow::SalesLedger, "SalesLedger"},
     {&SalesRow::TaxAc, "TaxAc"},
     {&SalesRow::ItemName, "ItemName"},
     {&SalesRow::Unit, "Unit"},
     {&SalesRow::Qty, "Qty"},
     {&SalesRow::Rate, "Rate"},
     {&SalesRow::Amount, "Amount"},
     {&SalesRow::TaxPer, "TaxPer"}};

// The current row of `rows` ("Select * from SalesMst"). Throws modTally::Failure when a column
// is missing or there is no current row.
SalesRow ReadSalesRow(const access::Recordset& rows);
// The same for a row after row: the columns' places looked up once (SalesColumnsOf), the values
// read into `row`, whose strings keep their room.
using SalesColumns = std::array<std::size_t, std::size(kSalesMstColumns)>;
SalesColumns SalesColumnsOf(const access::Recordset& rows);
void ReadSalesRow(const access::Recordset& rows, const SalesColumns& at, SalesRow& row);

// The number a text starts with: blanks, tabs and line feeds are ignored anywhere, then the
// longest leading decimal number (sign, digits, one period, exponent) is taken; 0 when there is
// none ("4%" is 4, "abc" is 0). Throws modTally::Failure (kValue) when the number is too large
// for a double.
double ReadNumber(std::string_view text);

// `value` with at most 15 significant digits, "." as decimal point, no exponent, no trailing
// zeros, "-" only when negative ("1040", "12.5", "-0.003"; never "-0").
std::string FormatAmount(double value);

// The figures a sales voucher carries for `row`: the Amount and TaxPer read as numbers, the tax
// (amount × rate / 100, the tax ledger's entry) and the gross (amount plus tax, the party's entry
// negated). Throws modTally::Failure (kValue) when Amount or TaxPer is null or too large.
struct SalesVoucherFigures {
  double amount = 0;
  double tax_percent = 0;
  double tax = 0;
  double gross = 0;
};
SalesVoucherFigures VoucherFigures(const SalesRow& row);

// The one-line "Import Data" request that creates the sales voucher of `row` in `company`: the
// company in STATICVARIABLES/SVCURRENTCOMPANY as in the master envelope, then the voucher's
// TALLYMESSAGE. Every value is escaped as XML text, so the request is always well-formed. Throws
// modTally::Failure (kValue) when Amount or TaxPer is null or too large.
std::string BuildSalesVoucher(const SalesRow& row, const std::string& company);

// Appends the TALLYMESSAGE holding the sales voucher of `row`, as BuildSalesVoucher writes it, to
// `batch`. Throws as BuildSalesVoucher does, leaving `batch` unchanged.
void AppendSalesVoucherMessage(std::string& batch, const SalesRow& row);

// Whether `date` is a day of the calendar written YYYYMMDD ("20160231" is not).
bool IsCalendarDate(std::string_view date);

}  // namespace lirvo::books
