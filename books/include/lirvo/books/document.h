// Documents of the eight types a source holds (orders, notes, invoices, receipts and payments):
// the model, read as text from a source's Vouchers and VoucherLines tables; the local checks; the
// VOUCHER message each type is imported as; the reading back of the books' copy from a collection
// export; and the comparison of the two.
#pragma once

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <lirvo/modTally.h>

namespace lirvo::books {

// ---------------------------------------------------------------------------------------------
// The model

enum class DocumentType {
  kSalesOrder,
  kDeliveryNote,
  kSales,
  kReceipt,
  kPurchaseOrder,
  kReceiptNote,
  kPurchase,
  kPayment,
};

// The eight types, in the order the export dialog lists them.
inline constexpr std::array<DocumentType, 8> kDocumentTypes = {
    DocumentType::kSalesOrder, DocumentType::kDeliveryNote,  DocumentType::kSales,
    DocumentType::kReceipt,    DocumentType::kPurchaseOrder, DocumentType::kReceiptNote,
    DocumentType::kPurchase,   DocumentType::kPayment,
};

// The type as the server spells it ("Sales Order", "Delivery Note", "Sales", "Receipt",
// "Purchase Order", "Receipt Note", "Purchase", "Payment"): VoucherType in a source, VCHTYPE and
// VOUCHERTYPENAME on the wire.
std::string_view ServerName(DocumentType type);

// The type as the command line spells it: "sales-orders", "delivery-notes", "sales", "receipts",
// "purchase-orders", "receipt-notes", "purchases", "payments".
std::string_view KindName(DocumentType type);

// The type a server name or a command-line name stands for (blanks at the ends and the case of
// ASCII letters ignored); none when it names no type.
std::optional<DocumentType> TypeOfServerName(std::string_view name);
std::optional<DocumentType> TypeOfKindName(std::string_view name);

// A row of VoucherLines, as text. A line with an Item is an inventory line (its Ledger is the sales
// or purchase ledger the item is allocated to); one without is a ledger line (a tax, a discount,
// the cash or bank ledger of a receipt or payment).
struct Line {
  std::string line;  // the Line column: the line's number within its voucher
  std::string ledger;
  std::string item;
  std::string godown;  // empty: the predefined "Main Location"
  std::string quantity;
  std::string unit;
  std::string rate;  // per unit; empty: no rate is sent
  std::string amount;
};

// A row of Vouchers with its lines, in the order of their Line numbers.
struct Document {
  std::string voucher_id;
  DocumentType type = DocumentType::kSales;
  std::string date;    // YYYYMMDD (YYYY-MM-DD, as databases give dates, is taken too)
  std::string number;  // empty: the VoucherID is the voucher's number
  std::string reference;
  std::string party;
  std::string narration;
  std::vector<Line> lines;
};

// ---------------------------------------------------------------------------------------------
// Local checks

// Why a document cannot be sent, and where: the voucher, the line (its Line value, empty for the
// voucher itself) and the column.
struct Problem {
  std::string voucher_id;
  std::string line;
  std::string column;
  std::string reason;

  // "voucher SV-1, line 2, Quantity: \"2 kg\" is not a number".
  std::string Text() const;
};

// The problem of a Vouchers row whose VoucherType names none of the eight types.
Problem UnknownType(std::string_view voucher_id, std::string_view voucher_type);

// The first reason `document` cannot be sent, or none. Checked: a VoucherID, a calendar date, a
// party, at least one line; on each line a ledger, numbers in Amount, Quantity and Rate, a Unit
// with a Quantity and a Quantity on an item line, no item on a receipt or payment and no quantity,
// rate, unit or godown on a ledger line, items not negative; at least one item on the types the
// server keeps in its invoice view; lines that leave the party an amount on its own side; and no
// control character that XML cannot carry in a name or text.
std::optional<Problem> Check(const Document& document);

// Why the server would not keep `document` as sent in a UTF-8 request (it stores "?" for each
// character outside Windows-1252): the first such value, naming its line and column, or nothing.
std::optional<Problem> Windows1252Loss(const Document& document);
// Why the server would not keep `text` as sent in a UTF-8 request ("holds \"C\", which the server
// stores as \"?\" ..." or "is not valid UTF-8 text, ..."), or nothing.
std::optional<std::string> Windows1252Loss(std::string_view text);

namespace detail {
struct Prepared;
}  // namespace detail

// What Check found of a document that passes it, for AppendMessage to build its message from
// without checking the document a second time. It refers to the document's lines, which must
// stay as they are while it is used (moving the document keeps them).
class CheckedDocument {
 public:
  CheckedDocument();
  ~CheckedDocument();
  CheckedDocument(CheckedDocument&&) noexcept;
  CheckedDocument& operator=(CheckedDocument&&) noexcept;

 private:
  friend std::optional<Problem> Check(const Document& document, CheckedDocument& checked);
  friend void AppendMessage(std::string& out, const Document& document,
                            const CheckedDocument& checked);
  std::unique_ptr<detail::Prepared> prepared_;
};

// Check's problem, or none and what it found in `checked`.
std::optional<Problem> Check(const Document& document, CheckedDocument& checked);

// The date of a source as YYYYMMDD: "20250401" and "2025-04-01" (an ISO date, with a time after
// it or not) when they name a calendar date; none otherwise.
std::optional<std::string> SourceDate(std::string_view text);

// ---------------------------------------------------------------------------------------------
// Messages

// Thrown by AppendMessage for a document that fails Check: a modTally::Failure (kValue) whose
// description is the problem's text.
class DocumentFailure : public modTally::Failure {
 public:
  explicit DocumentFailure(Problem problem);
  const Problem& problem() const noexcept { return problem_; }

 private:
  Problem problem_;
};

// Appends to `out` the TALLYMESSAGE holding the VOUCHER that creates `document` in the server's
// shape for its type: REMOTEID the VoucherID, VOUCHERNUMBER the number (else the VoucherID).
// Values are escaped as XML text. Appends nothing and throws DocumentFailure when the document
// fails Check, modTally::Failure when an amount cannot be written.
void AppendMessage(std::string& out, const Document& document);
// The same for a document that passed Check into `checked`: it is not checked again.
void AppendMessage(std::string& out, const Document& document, const CheckedDocument& checked);

// The TALLYMESSAGE of AppendMessage as a string of its own.
std::string Message(const Document& document);

// ---------------------------------------------------------------------------------------------
// Reading back and comparing

// A document as the books hold it, in the model of a source's document (amounts as the source
// writes them: see the sign convention in types.cpp), with the party's own amount beside it.
struct BooksDocument {
  Document document;
  std::string party_amount;  // the party line's amount in the source's sign; "" when none
};

// The document a VOUCHER element of a collection export (or of a TALLYMESSAGE) holds; none when
// its type (VCHTYPE, else VOUCHERTYPENAME) is not one of the eight. Tolerant of the shapes the
// server exports: TYPE attributes, blanks around values, "&#4;" before them (already removed from
// a decoded reply), both ledger lists on an item invoice (one is read), INVENTORYENTRIES.LIST for
// ALLINVENTORYENTRIES.LIST. Lines are numbered 1, 2, ... items first. Never throws for content.
std::optional<BooksDocument> ReadDocument(const pugi::xml_node& voucher);

// One field in which the books' copy differs from the source: its name ("date", "party",
// "party amount", "line 2 quantity", ...), the source's value, the books' value.
struct FieldDifference {
  std::string field;
  std::string source;
  std::string books;
};

// The fields in which `books` differs from `source` (empty: they match). Compared: the type, date,
// reference, party, narration, the party's amount (the balance of the source's lines), the number
// of item lines and of ledger lines, and the lines in order (items with items, ledger lines with
// ledger lines): ledger, item, godown, quantity with its unit, rate, amount. Names compare as the
// server compares them, amounts, rates and quantities as numbers (amounts and rates to the paisa).
// The voucher number is not compared: the server may renumber vouchers by the company's settings.
// `source` must pass Check.
std::vector<FieldDifference> Compare(const Document& source, const BooksDocument& books);

}  // namespace lirvo::books
