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

// The forms of the sales voucher message. kDemo is the one BuildSalesVoucher writes, byte for byte
// as the demo transfer has always sent it. kInvoice is lirvo sync's: the voucher as the server
// itself exports an item invoice (OBJVIEW and PERSISTEDVIEW "Invoice Voucher View", VCHENTRYMODE
// "Item Invoice", ISINVOICE Yes), numbered with its VoucherID, with no GUID (the server gives
// those), the inventory entry before the ledger entries, the same values otherwise.
enum class VoucherForm { kDemo, kInvoice };

// Appends the TALLYMESSAGE holding the sales voucher of `row` in `form` to `batch`. Throws as
// BuildSalesVoucher does, leaving `batch` unchanged.
void AppendSalesVoucherMessage(std::string& batch, const SalesRow& row,
                               VoucherForm form = VoucherForm::kDemo);

// ---------------------------------------------------------------------------------------------
// Reading the rows

// Rows of SalesMst's shape read from another kind of source (an SQLite file, an ODBC data
// source): how many there are, and each in turn, its values as the Access reader gives them
// (dates YYYYMMDD), nothing after the last. Both throw modTally::Failure naming the source and
// the row.
struct SalesRows {
  std::string name;  // the source, as messages name it
  std::function<long()> count;
  std::function<std::optional<SalesRow>()> next;
};

// The rows of SalesMst in `database`, read in one forward pass ("Select * from SalesMst"), or of
// other SalesRows, each with its row number (1 for the first row). Memory does not grow with the
// table.
class SalesSource {
 public:
  // Opens the table. Throws modTally::Failure (kDatabase) naming the file when it cannot be read.
  explicit SalesSource(const std::filesystem::path& database);
  explicit SalesSource(SalesRows rows);
  ~SalesSource();
  SalesSource(SalesSource&&) noexcept;
  SalesSource& operator=(SalesSource&&) noexcept;

  // The number of rows in the table.
  long RowCount() const;
  // Moves to the next row; false after the last. Throws modTally::Failure naming the file and
  // the row when a row cannot be read.
  bool Next();
  // The current row and its number (valid after Next returned true).
  const SalesRow& row() const { return row_; }
  // The current row made Normalized in place, and returned.
  const SalesRow& Normalize();
  long number() const { return number_; }

 private:
  std::filesystem::path path_;
  std::unique_ptr<access::Recordset> rows_;
  std::optional<SalesColumns> columns_;  // of rows_, looked up on the first row
  std::optional<SalesRows> other_;
  SalesRow row_;
  long number_ = 0;
};

// `row` as the sync and the verification both take it: every value with the blanks at its ends
// removed, as the server compares names ("Chandra & Sons " is the ledger "Chandra & Sons").
SalesRow Normalized(SalesRow row);

// Whether `date` is a day of the calendar written YYYYMMDD ("20160231" is not).
bool IsCalendarDate(std::string_view date);

// Why `row` cannot become a sales voucher, in words for the report ("PartyName is empty"), or no
// value when it can: a VoucherID, party, sales and tax ledger, item and unit that are not empty,
// a YYYYMMDD date of the calendar, an Amount and TaxPer that are numbers, and figures the voucher
// can carry.
std::optional<std::string> LocalCheck(const SalesRow& row);

// Why the server would not keep `row` as sent in a UTF-8 request, or no value when it would: the
// first value the voucher carries that holds a character outside Windows-1252 (the server stores
// '?' for each), naming the column, the value and the character. Values that are not valid UTF-8
// are named the same way. TaxPer is not checked: only the figures made from it are sent.
std::optional<std::string> Windows1252Loss(const SalesRow& row);

}  // namespace lirvo::books
