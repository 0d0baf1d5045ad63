// The VOUCHER message of each document type, appended piece by piece to one string: this runs
// once for every document of a source, so nothing goes through a DOM.
#include <algorithm>
#include <array>
#include <cstring>

#include <lirvo/text.h>

#include "internal.h"

namespace lirvo::books {

namespace {

using detail::Decimal;
using detail::PreparedLine;
using detail::Shape;
using detail::Side;
using detail::View;

// The characters a value cannot carry as they are: markup characters and quotes (escaped by the
// client's EscapeXml), and line breaks and tabs (written as character references, so the message
// stays on one line and the value reads back with them).
constexpr auto kChanged = [] {
  std::array<unsigned char, 256> table{};
  for (const char c : {'&', '<', '>', '"', '\'', '\r', '\n', '\t'}) {
    table[static_cast<unsigned char>(c)] = true;
  }
  return table;
}();

// The bill a party's line makes or settles: none when `type` is empty.
struct Bill {
  std::string_view type;  // "New Ref", "Agst Ref" or "On Account"
  std::string_view name;  // the bill's name; none on account
};

// The party's bill. A bill-wise party (a customer or a supplier, as a rule) needs one on every
// voucher that posts to it, or the server refuses the import: an invoice makes a new bill named by
// its reference (else its number); a receipt or payment settles the bill its reference names, or
// stands on account without one. Orders and notes post nothing and carry none. Whether the server
// takes a bill on a ledger that is not bill-wise without a word, as expected, is unconfirmed; so
// is the on-account bill without a NAME.
Bill PartyBill(const Shape& shape, std::string_view reference, std::string_view number) {
  if (shape.invoice) {
    return {"New Ref", reference.empty() ? number : reference};
  }
  if (shape.view == View::kAccounting) {
    return reference.empty() ? Bill{"On Account", {}} : Bill{"Agst Ref", reference};
  }
  return {};
}

// An element's name known when compiling, its opening and closing tags spelt out once, so that
// each is one append: a document's message has some sixty elements.
template <std::size_t N>
struct Tag {
  std::array<char, N + 1> open{};         // "<NAME>"
  std::array<char, N + 2> close{};        // "</NAME>"
  constexpr Tag(const char (&name)[N]) {  // NOLINT: converts from the literal
    open[0] = close[0] = '<';
    close[1] = '/';
    for (std::size_t i = 0; i + 1 < N; ++i) {
      open[i + 1] = close[i + 2] = name[i];
    }
    open[N] = close[N + 1] = '>';
  }
  std::string_view Open() const { return {open.data(), open.size()}; }
  std::string_view Close() const { return {close.data(), close.size()}; }
};

// Writes a message after what its string holds. Each piece is copied straight into room kept
// ahead in the string, growing it as needed, and the string is cut to what was written when the
// writer goes: a message is some sixty elements of a few bytes each, and appending each piece on
// its own (a call, and a copy of a length the compiler does not know) cost a sixth of building a
// message.
class Writer {
 public:
  explicit Writer(std::string& out) : out_(out), at_(out.size()) { out_.resize(at_ + kAhead); }
  ~Writer() { out_.resize(at_); }
  Writer(const Writer&) = delete;
  Writer& operator=(const Writer&) = delete;

  void Raw(std::string_view text) { std::memcpy(Room(text.size()), text.data(), text.size()); }
  void Raw(char c) { *Room(1) = c; }
  // `value` as character data or an attribute value: markup characters and quotes escaped, line
  // breaks and tabs as character references (so the message stays on one line and the value
  // reads back with them).
  void Text(std::string_view value) {
    unsigned changed = 0;  // without a branch for each byte
    for (const char c : value) {
      changed |= kChanged[static_cast<unsigned char>(c)];
    }
    if (changed == 0) {
      Raw(value);
      return;
    }
    for (const char c : modTally::EscapeXml(value)) {
      if (c == '\r') {
        Raw("&#13;");
      } else if (c == '\n') {
        Raw("&#10;");
      } else if (c == '\t') {
        Raw("&#9;");
      } else {
        Raw(c);
      }
    }
  }
  void Number(Decimal value) {
    char* const at = Room(detail::kDecimalChars);
    at_ -= detail::kDecimalChars - static_cast<std::size_t>(detail::WriteDecimal(at, value) - at);
  }
  template <Tag name>
  void Element(std::string_view value) {
    Raw(name.Open());
    Text(value);
    Raw(name.Close());
  }
  template <Tag name>
  void Amount(Decimal value) {
    Raw(name.Open());
    Number(value);
    Raw(name.Close());
  }
  void Deemed(Side side) {
    Raw(side == Side::kDebit ? "<ISDEEMEDPOSITIVE>Yes</ISDEEMEDPOSITIVE>"
                             : "<ISDEEMEDPOSITIVE>No</ISDEEMEDPOSITIVE>");
  }
  // " 2 Nos": a quantity and its unit as the server writes them.
  template <Tag name>
  void Quantity(Decimal quantity, std::string_view unit) {
    Raw(name.Open());
    Raw(' ');
    Number(quantity);
    Raw(' ');
    Text(unit);
    Raw(name.Close());
  }
  // "600/Nos"
  void Rate(Decimal rate, std::string_view unit) {
    Raw("<RATE>");
    Number(rate);
    Raw('/');
    Text(unit);
    Raw("</RATE>");
  }
  // "<LEDGERENTRIES.LIST>" and the like: a list entry holding one ledger's amount, and the bill
  // it makes or settles, if any, for the whole amount.
  template <Tag list>
  void LedgerEntry(std::string_view ledger, Side side, bool party, Decimal wire_amount,
                   const Bill& bill = {}) {
    Raw(list.Open());
    Element<"LEDGERNAME">(ledger);
    Deemed(side);
    Raw(party ? "<ISPARTYLEDGER>Yes</ISPARTYLEDGER>" : "<ISPARTYLEDGER>No</ISPARTYLEDGER>");
    Amount<"AMOUNT">(wire_amount);
    if (!bill.type.empty()) {
      Raw("<BILLALLOCATIONS.LIST>");
      if (!bill.name.empty()) {
        Element<"NAME">(bill.name);
      }
      Element<"BILLTYPE">(bill.type);
      Amount<"AMOUNT">(wire_amount);
      Raw("</BILLALLOCATIONS.LIST>");
    }
    Raw(list.Close());
  }

 private:
  static constexpr std::size_t kAhead = 2048;  // more than most messages take

  // `n` bytes of room at the end of what is written, now counted as written.
  // Small enough to be inlined, so that a piece of known length is copied without a call.
  char* Room(std::size_t n) {
    if (out_.size() - at_ < n) [[unlikely]] {
      Grow(n);
    }
    char* const at = out_.data() + at_;
    at_ += n;
    return at;
  }
  [[gnu::noinline]] void Grow(std::size_t n) { out_.resize(std::max(2 * out_.size(), at_ + n)); }

  std::string& out_;
  std::size_t at_;  // the end of what is written
};

std::string_view Trimmed(const std::string& value) {
  return text::Trim(value);
}

// The server's "1-Apr-26" for a YYYYMMDD date, as its exports show beside ORDERDUEDATE.
std::string ShortDate(std::string_view date) {
  static constexpr std::string_view kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const int month = (date[4] - '0') * 10 + (date[5] - '0');
  const int day = (date[6] - '0') * 10 + (date[7] - '0');
  return std::to_string(day) + "-" + std::string(kMonths[month - 1]) + "-" +
         std::string(date.substr(2, 2));
}

// One item of an invoice, order or note: ALLINVENTORYENTRIES.LIST with its batch allocation (the
// godown, and the order or tracking number) and its accounting allocation (the sales or purchase
// ledger), all three with the item's amount on the lines' side.
void AppendItem(Writer& w, const Shape& shape, const PreparedLine& item, std::string_view number,
                std::string_view date) {
  const Line& line = *item.line;
  const Decimal amount = detail::OnSide(item.amount, shape.lines);
  const std::string_view unit = Trimmed(line.unit);
  const std::string_view godown = Trimmed(line.godown);
  w.Raw("<ALLINVENTORYENTRIES.LIST>");
  w.Element<"STOCKITEMNAME">(Trimmed(line.item));
  w.Deemed(shape.lines);
  if (item.rate) {
    w.Rate(*item.rate, unit);
  }
  w.Amount<"AMOUNT">(amount);
  w.Quantity<"ACTUALQTY">(*item.quantity, unit);
  w.Quantity<"BILLEDQTY">(*item.quantity, unit);
  w.Raw("<BATCHALLOCATIONS.LIST>");
  w.Element<"GODOWNNAME">(godown.empty() ? detail::kMainLocation : godown);
  w.Raw("<BATCHNAME>Primary Batch</BATCHNAME>");
  // An order's items carry its number and due date, or the server refuses the order ("Order No.
  // is missing in Item Allocations"). A source gives no due date: an order is due on its own
  // date. Whether the server needs the P attribute its exports show is unconfirmed.
  if (shape.order) {
    w.Element<"ORDERNO">(number);
    w.Raw("<ORDERDUEDATE P=\"");
    w.Raw(ShortDate(date));
    w.Raw("\">");
    w.Raw(date);
    w.Raw("</ORDERDUEDATE>");
  } else {
    w.Raw("<ORDERNO/>");
  }
  // A note's number is its tracking number. Notes and invoices are not tied to an order here;
  // what the server does with an order or tracking number that matches nothing is unconfirmed.
  if (shape.note) {
    w.Element<"TRACKINGNUMBER">(number);
  } else {
    w.Raw("<TRACKINGNUMBER/>");
  }
  w.Amount<"AMOUNT">(amount);
  w.Quantity<"ACTUALQTY">(*item.quantity, unit);
  w.Quantity<"BILLEDQTY">(*item.quantity, unit);
  w.Raw("</BATCHALLOCATIONS.LIST>");
  w.LedgerEntry<"ACCOUNTINGALLOCATIONS.LIST">(Trimmed(line.ledger), shape.lines, false, amount);
  w.Raw("</ALLINVENTORYENTRIES.LIST>");
}

void AppendVoucher(Writer& w, const Document& document, const detail::Prepared& prepared) {
  const Shape& shape = *prepared.shape;
  const bool invoice_view = shape.view == View::kInvoice;
  const std::string_view view = invoice_view ? "Invoice Voucher View" : "Accounting Voucher View";
  const std::string_view number =
      Trimmed(document.number).empty() ? Trimmed(document.voucher_id) : Trimmed(document.number);
  const std::string_view party = Trimmed(document.party);
  const Bill bill = PartyBill(shape, Trimmed(document.reference), number);
  const Side party_side = detail::Other(shape.lines);
  const Decimal party_amount = detail::OnSide(prepared.party_amount, party_side);
  // The ledger the server keeps as PARTYLEDGERNAME: the party of an invoice, order or note; the
  // cash or bank ledger (the first line) of a receipt or payment.
  const std::string_view party_ledger =
      invoice_view ? party : Trimmed(prepared.ledgers.front().line->ledger);

  w.Raw("<TALLYMESSAGE xmlns:UDF=\"TallyUDF\"><VOUCHER REMOTEID=\"");
  w.Text(Trimmed(document.voucher_id));
  w.Raw("\" VCHTYPE=\"");
  w.Raw(shape.server_name);
  w.Raw("\" ACTION=\"Create\" OBJVIEW=\"");
  w.Raw(view);
  w.Raw("\">");
  w.Element<"DATE">(prepared.date);
  w.Element<"VCHSTATUSDATE">(prepared.date);
  w.Element<"NARRATION">(document.narration);
  w.Element<"VOUCHERTYPENAME">(shape.server_name);
  w.Element<"PARTYLEDGERNAME">(party_ledger);
  w.Element<"VOUCHERNUMBER">(number);
  w.Element<"REFERENCE">(Trimmed(document.reference));
  w.Element<"PERSISTEDVIEW">(view);
  if (shape.invoice) {
    w.Raw("<VCHENTRYMODE>Item Invoice</VCHENTRYMODE>");
  }
  w.Element<"EFFECTIVEDATE">(prepared.date);
  w.Raw(shape.invoice ? "<ISINVOICE>Yes</ISINVOICE>" : "<ISINVOICE>No</ISINVOICE>");
  if (invoice_view) {
    for (const PreparedLine& item : prepared.items) {
      AppendItem(w, shape, item, number, prepared.date);
    }
    w.LedgerEntry<"LEDGERENTRIES.LIST">(party, party_side, true, party_amount, bill);
    for (const PreparedLine& ledger : prepared.ledgers) {
      w.LedgerEntry<"LEDGERENTRIES.LIST">(Trimmed(ledger.line->ledger), shape.lines, false,
                                          detail::OnSide(ledger.amount, shape.lines));
    }
  } else {
    w.LedgerEntry<"ALLLEDGERENTRIES.LIST">(party, party_side, false, party_amount, bill);
    bool first = true;
    for (const PreparedLine& ledger : prepared.ledgers) {
      w.LedgerEntry<"ALLLEDGERENTRIES.LIST">(Trimmed(ledger.line->ledger), shape.lines, first,
                                             detail::OnSide(ledger.amount, shape.lines));
      first = false;
    }
  }
  w.Raw("</VOUCHER></TALLYMESSAGE>");
}

}  // namespace

namespace {

void AppendPrepared(std::string& out, const Document& document, const detail::Prepared& prepared) {
  const std::size_t start = out.size();
  try {
    Writer w(out);
    AppendVoucher(w, document, prepared);
  } catch (...) {
    out.resize(start);  // once the writer has cut it to what it wrote
    throw;
  }
}

}  // namespace

void AppendMessage(std::string& out, const Document& document) {
  detail::Prepared prepared;
  if (std::optional<Problem> problem = detail::Prepare(document, prepared)) {
    throw DocumentFailure(std::move(*problem));
  }
  AppendPrepared(out, document, prepared);
}

void AppendMessage(std::string& out, const Document& document, const CheckedDocument& checked) {
  if (!checked.prepared_) {
    AppendMessage(out, document);
    return;
  }
  AppendPrepared(out, document, *checked.prepared_);
}

std::string Message(const Document& document) {
  std::string out;
  out.reserve(2048);
  AppendMessage(out, document);
  return out;
}

}  // namespace lirvo::books
