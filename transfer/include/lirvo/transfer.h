// The sales transfer without any window: the voucher message, the sending routine with its
// formatting, the reading of replies, and DataToTally's six phases.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

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

// Appends the TALLYMESSAGE holding the sales voucher of `row` (as BuildSalesVoucher writes it) to
// `batch`. Throws as BuildSalesVoucher does, leaving `batch` unchanged.
void AppendSalesVoucherMessage(std::string& batch, const SalesRow& row);

// ---------------------------------------------------------------------------------------------
// Sending

// Loads `request` into a document, re-indents it (CR LF, two blanks a level) and posts it to
// modTally::TallyUrl; returns the reply unchanged. Throws modTally::Failure when the request is
// not well-formed XML (nothing is sent) or the exchange fails.
modTally::Reply SendRequest(const std::string& request);

// As SendRequest, giving back only the reply text.
std::string SendToTally(const std::string& request);

// Re-indents `document` in place: every element on a line of its own, indented two blanks per
// level, leaves on one line. Throws modTally::Failure (kDocument) when the document has no root
// element, and (kDepth) when the tree is too deep to format.
void FormatXml(pugi::xml_document& document);

// The text SendRequest posts for `document`: the document laid out as FormatXml lays it out,
// written as modTally::DocumentXml writes it, in one pass that leaves the document unchanged.
// Throws modTally::Failure as FormatXml does.
std::string LaidOutXml(const pugi::xml_document& document);

// Lays out `node` and its subtree at `depth` blanks (CR LF line ends, two blanks a level). A
// child's depth above 32767 throws modTally::Failure (kDepth).
void IndentNode(pugi::xml_node node, std::int16_t depth);

// ---------------------------------------------------------------------------------------------
// Reading replies to imports

// Whether an import reply reports that the server rejected something: an HTTP status of 400 or
// above, a LINEERROR, ERRORS or EXCEPTIONS above 0, or a RESPONSE root holding only a message.
bool IsRejection(const modTally::Reply& reply);

// The reason a rejected reply gives (its LINEERROR texts, or its message), for the report.
std::string RejectionText(const modTally::Reply& reply);

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

// Runs the six phases against `database` for `company`, calling `stat` before each heading and
// row. Posts to modTally::TallyUrl. Throws modTally::Failure, naming the phase and row, at the
// first failure (what was posted before stays posted).
TransferResult DataToTally(const std::string& company, const StatFn& stat,
                           const std::filesystem::path& database = DefaultDatabasePath());

// The final message: kSuccessMessage when nothing was rejected, otherwise how many requests the
// server rejected and why.
std::string FinalMessage(const TransferResult& result);

}  // namespace lirvo::transfer
