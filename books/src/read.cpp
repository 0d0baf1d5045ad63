// Reading a document back from the books: one VOUCHER element of a collection export, in whatever
// shape the server's version gives it, turned back into the source's model.
#include <string_view>

#include <lirvo/text.h>

#include "internal.h"

namespace lirvo::books {

namespace {

using detail::Decimal;
using detail::Side;

// The text of `node` without the blanks and control characters around it: a reply read without
// the client's decoding still holds the "&#4;" the server writes before some values.
// A leaf's one piece of text is read where it is, without a copy of its own first: a reply of
// thousands of vouchers holds hundreds of thousands of values.
std::string Value(const pugi::xml_node& node) {
  const pugi::xml_node only = node.first_child();
  const bool one_text = only && !only.next_sibling() &&
                        (only.type() == pugi::node_pcdata || only.type() == pugi::node_cdata);
  const std::string joined = one_text || !only ? std::string() : modTally::NodeText(node);
  std::string_view text = one_text ? std::string_view(only.value()) : std::string_view(joined);
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ') {
    text.remove_prefix(1);
  }
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ') {
    text.remove_suffix(1);
  }
  return std::string(text);
}

// The text of the first child named `name` ("" when there is none).
std::string Leaf(const pugi::xml_node& node, const char* name) {
  return Value(node.child(name));
}

std::string LeafEither(const pugi::xml_node& node, const char* first, const char* second) {
  const pugi::xml_node found = node.child(first);
  return Value(found ? found : node.child(second));
}

// A ledger entry of the voucher as it stands on the wire.
struct Entry {
  std::string ledger;
  std::string amount;  // as the books give it
  std::optional<Side> side;
  bool party = false;  // ISPARTYLEDGER Yes
};

Entry ReadEntry(const pugi::xml_node& node) {
  Entry entry{Leaf(node, "LEDGERNAME"), Leaf(node, "AMOUNT"), std::nullopt,
              text::EqualsNoCase(Leaf(node, "ISPARTYLEDGER"), "Yes")};
  const std::string deemed = Leaf(node, "ISDEEMEDPOSITIVE");
  if (text::EqualsNoCase(deemed, "Yes")) {
    entry.side = Side::kDebit;
  } else if (text::EqualsNoCase(deemed, "No")) {
    entry.side = Side::kCredit;
  } else if (const std::optional<Decimal> amount = detail::LeadingDecimal(entry.amount)) {
    entry.side = amount->micros < 0 ? Side::kDebit : Side::kCredit;  // no flag: the sign tells
  }
  return entry;
}

// The books' amount on `side` in the source's sign; the books' text when it is not a number.
std::string SourceAmount(std::string_view amount, Side side) {
  const std::optional<Decimal> value = detail::LeadingDecimal(amount);
  return value ? detail::DecimalText(detail::OnSide(*value, side)) : std::string(amount);
}

// " 10.00 Nos" as quantity "10" and unit "Nos"; text that is not a number is kept whole.
void ReadQuantity(const std::string& text, Line& line) {
  std::string_view unit;
  if (const std::optional<Decimal> quantity = detail::LeadingDecimal(text, &unit)) {
    line.quantity = detail::DecimalText(*quantity);
    line.unit = std::string(unit);
  } else {
    line.quantity = text;
  }
}

// An item of an invoice, order or note; its amount on the lines' side.
Line ReadItem(const pugi::xml_node& node, Side lines) {
  Line line;
  line.item = Leaf(node, "STOCKITEMNAME");
  line.ledger = Leaf(node.child("ACCOUNTINGALLOCATIONS.LIST"), "LEDGERNAME");
  line.godown = Leaf(node.child("BATCHALLOCATIONS.LIST"), "GODOWNNAME");
  ReadQuantity(LeafEither(node, "ACTUALQTY", "BILLEDQTY"), line);
  const std::string rate = Leaf(node, "RATE");
  const std::string_view rate_number = std::string_view(rate).substr(0, rate.find('/'));
  const std::optional<Decimal> rate_value = detail::LeadingDecimal(rate_number);
  line.rate = rate_value ? detail::DecimalText(*rate_value) : std::string(text::Trim(rate_number));
  line.amount = SourceAmount(Leaf(node, "AMOUNT"), lines);
  return line;
}

}  // namespace

// Long: the voucher's fields read in the order the export writes them, clearer whole.
std::optional<BooksDocument> ReadDocument(const pugi::xml_node& voucher) {
  std::string type_name(text::Trim(voucher.attribute("VCHTYPE").value()));
  if (type_name.empty()) {
    type_name = Leaf(voucher, "VOUCHERTYPENAME");
  }
  const std::optional<DocumentType> type = TypeOfServerName(type_name);
  if (!type) {
    return std::nullopt;
  }
  const detail::Shape& shape = detail::ShapeOf(*type);
  const Side party_side = detail::Other(shape.lines);
  BooksDocument books;
  Document& document = books.document;
  document.type = *type;
  document.voucher_id = std::string(text::Trim(voucher.attribute("REMOTEID").value()));
  if (document.voucher_id.empty()) {
    document.voucher_id = LeafEither(voucher, "REMOTEID", "GUID");
  }
  document.date = Leaf(voucher, "DATE");
  document.number = Leaf(voucher, "VOUCHERNUMBER");
  document.reference = Leaf(voucher, "REFERENCE");
  document.narration = Leaf(voucher, "NARRATION");
  const std::string party_ledger = Leaf(voucher, "PARTYLEDGERNAME");

  // An item invoice exported by the server carries its ledger lines twice over:
  // LEDGERENTRIES.LIST as the voucher was sent, and ALLLEDGERENTRIES.LIST, the whole accounting
  // view, which repeats the party line and adds the sales ledger the items' allocations already
  // carry (with an INVENTORYALLOCATIONS.LIST under it). One list is read: LEDGERENTRIES.LIST when
  // there is one, else ALLLEDGERENTRIES.LIST without the lines that restate allocations. The same
  // for the items: ALLINVENTORYENTRIES.LIST, else the older INVENTORYENTRIES.LIST.
  const bool all_inventory = static_cast<bool>(voucher.child("ALLINVENTORYENTRIES.LIST"));
  bool allocated = false;
  for (const pugi::xml_node node :
       voucher.children(all_inventory ? "ALLINVENTORYENTRIES.LIST" : "INVENTORYENTRIES.LIST")) {
    document.lines.push_back(ReadItem(node, shape.lines));
    allocated = allocated || node.child("ACCOUNTINGALLOCATIONS.LIST");
  }
  const bool ledger_entries = static_cast<bool>(voucher.child("LEDGERENTRIES.LIST"));
  std::vector<Entry> entries;
  for (const pugi::xml_node node :
       voucher.children(ledger_entries ? "LEDGERENTRIES.LIST" : "ALLLEDGERENTRIES.LIST")) {
    if (!ledger_entries && allocated && node.child("INVENTORYALLOCATIONS.LIST")) {
      continue;
    }
    entries.push_back(ReadEntry(node));
  }

  // The party's entry. On an invoice, order or note it is the one marked as the party (else the
  // one named PARTYLEDGERNAME, else the first on the party's side). On a receipt or payment the
  // marked one is the cash or bank ledger, the first of the source's lines: the party is the
  // first other entry on the party's side.
  const auto find = [&entries](auto&& wanted) -> const Entry* {
    for (const Entry& entry : entries) {
      if (wanted(entry)) {
        return &entry;
      }
    }
    return nullptr;
  };
  const Entry* party = nullptr;
  if (shape.view == detail::View::kInvoice) {
    party = find([](const Entry& e) { return e.party; });
    party = party ? party : find([&](const Entry& e) {
      return !party_ledger.empty() && detail::SameName(e.ledger, party_ledger);
    });
    document.party = party_ledger;
  } else {
    party = find([&](const Entry& e) { return !e.party && e.side == party_side; });
  }
  party = party ? party : find([&](const Entry& e) { return e.side == party_side; });
  if (party) {
    books.party_amount = SourceAmount(party->amount, party_side);
    if (document.party.empty()) {
      document.party = party->ledger;
    }
  } else if (document.party.empty()) {
    document.party = party_ledger;
  }
  for (const Entry& entry : entries) {
    if (&entry != party) {
      Line line;
      line.ledger = entry.ledger;
      line.amount = SourceAmount(entry.amount, shape.lines);
      document.lines.push_back(std::move(line));
    }
  }
  for (std::size_t i = 0; i < document.lines.size(); ++i) {
    document.lines[i].line = std::to_string(i + 1);
  }
  return books;
}

}  // namespace lirvo::books
