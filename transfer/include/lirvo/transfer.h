// The sales transfer without any window: the voucher message, the sending routine with its
// layout, the judging of replies (lirvo/judge.h), and DataToTally's six phases.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <lirvo/judge.h>
#include <lirvo/modTally.h>

namespace lirvo::transfer {

class Recordset;

// ---------------------------------------------------------------------------------------------
// The sales voucher

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

// The current row of `rows` ("Select * from SalesMst"). Throws modTally::Failure when a column
// is missing or there is no current row.
SalesRow ReadSalesRow(const Recordset& rows);

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

// The start of a one-line "Import Data" request for `company` up to and including <REQUESTDATA>;
// kImportRequestTail closes it. Between them go any number of TALLYMESSAGEs (a batch).
std::string ImportRequestHead(const std::string& company);
inline constexpr std::string_view kImportRequestTail =
    "</REQUESTDATA></IMPORTDATA></BODY></ENVELOPE>";

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
// Sending

// Loads `request` into a document, lays it out (every element on a line of its own, CR LF, two
// blanks a level, leaves on one line) and posts it to `url`; returns the reply unchanged. Throws
// modTally::Failure when `url` is empty, when the request is not well-formed XML (kParse) or nests
// deeper than LaidOutXml allows (kDepth), nothing being sent then, or when the exchange fails.
modTally::Reply SendRequest(const std::string& url, const std::string& request);

// SendRequest to modTally::TallyUrl.
modTally::Reply SendRequest(const std::string& request);

// As SendRequest to modTally::TallyUrl, giving back only the reply text.
std::string SendToTally(const std::string& request);

// The text SendRequest posts for `document`, written in one pass that leaves the document as it
// is: the root element's subtree laid out with every element on a line of its own, indented two
// blanks per level (the root at 0, no indentation or line break around it), CR LF line ends; an
// element whose children are all text stays on one line; text is not changed. Nodes beside the
// root are written as they are. Throws modTally::Failure (kDocument) when the document has no
// root element, and (kDepth) when an element sits more than 100 levels deep (the root is level
// 1): the indentation grows with the level, and this bound keeps the text within about fifty
// times the size of the request.
std::string LaidOutXml(const pugi::xml_document& document);

// ---------------------------------------------------------------------------------------------
// The transfer

inline constexpr int kRowLimit = 5;  // rows handled in each phase

// One of the five master phases: its status heading (spelled as the system always has), the
// SalesMst column whose distinct values it reads, what it makes (for reports), and how it builds
// the request for one value.
struct MasterPhase {
  const char* heading;
  const char* column;
  const char* what;
  std::string (*build)(const std::string& company, const std::string& value);
};

// The master phases in the order the transfer runs them: units, customer ledgers, sales ledgers,
// tax ledgers, stock items.
std::span<const MasterPhase> MasterPhases();
inline constexpr const char* kSuccessMessage = "Data Exported to Tally successfully!!";
inline constexpr const char* kMessageTitle = "Lirvo 1.0 Demo";

// What a transfer that ran through all its phases did.
struct TransferResult {
  int posted = 0;                       // requests posted
  int rejected = 0;                     // of them, rejected by the server
  std::vector<std::string> rejections;  // the first few rejection texts, with phase and row
};

// Receives each status text as the transfer reaches it ("Creaing Units", "Creaing Units - 1", ...).
using StatFn = std::function<void(const std::string& message)>;

// SampleData.mdb in the folder that holds the running executable.
std::filesystem::path DefaultDatabasePath();

// A transfer that stopped part-way. Its description says where and why ("the transfer stopped at
// sales vouchers, row 3 (voucher \"7\"): ..."); posted() is how many requests had been posted
// before it stopped (what they made stays in Tally).
class TransferStopped : public modTally::Failure {
 public:
  TransferStopped(const modTally::Failure& cause, const std::string& where, int posted);
  int posted() const noexcept { return posted_; }

 private:
  int posted_;
};

// Runs the six phases against `database` for `company`, posting to `url` and calling `stat`
// before each heading and row. Throws TransferStopped, naming the phase and row, at the first
// failure (what was posted before stays posted), and before posting anything when `company` is
// empty (the server named no current company) or the database cannot be opened.
TransferResult DataToTally(const std::string& url, const std::string& company, const StatFn& stat,
                           const std::filesystem::path& database);

// DataToTally posting to modTally::TallyUrl.
TransferResult DataToTally(const std::string& company, const StatFn& stat,
                           const std::filesystem::path& database = DefaultDatabasePath());

// The message for a transfer that stopped with `failure`: where and why, then whether anything
// was sent before ("Nothing was sent to Tally." or "The 7 requests sent before it stopped stay in
// Tally."); for a failure that is not a TransferStopped, "The transfer stopped: " and its
// description.
std::string StopMessage(const modTally::Failure& failure);

// The final message: kSuccessMessage when nothing was rejected, otherwise how many requests the
// server rejected and why.
std::string FinalMessage(const TransferResult& result);

}  // namespace lirvo::transfer
