// Reading the books back: the collection export requests for sales vouchers by date range and for
// masters, and a tolerant reading of the replies, which differ in shape between server versions.
#include <lirvo/export_reply.h>
#include <lirvo/text.h>
#include <lirvo/verify.h>

namespace lirvo::transfer {

namespace {

using modTally::Failure;
namespace FailureNumber = modTally::FailureNumber;

constexpr const char* kVoucherCollection = "LirvoSalesVouchers";

struct MasterCollection {
  const char* id;
  const char* type;
  const char* element;
  const char* fetch;
};

MasterCollection CollectionOf(MasterType type) {
  switch (type) {
    case MasterType::kLedger:
      return {"LirvoLedgers", "Ledger", "LEDGER", "Name, Parent"};
    case MasterType::kStockItem:
      return {"LirvoStockItems", "Stock Item", "STOCKITEM", "Name, Parent, BaseUnits"};
    case MasterType::kUnit:
      return {"LirvoUnits", "Unit", "UNIT", "Name, IsSimpleUnit"};
  }
  return {};
}

std::string Envelope(const std::string& id, const std::string& statics,
                     const std::string& collection) {
  return "<ENVELOPE><HEADER><VERSION>1</VERSION><TALLYREQUEST>Export</TALLYREQUEST>"
         "<TYPE>Collection</TYPE><ID>" +
         id + "</ID></HEADER><BODY><DESC><STATICVARIABLES>" + statics +
         "<SVEXPORTFORMAT>$$SysName:XML</SVEXPORTFORMAT></STATICVARIABLES><TDL><TDLMESSAGE>" +
         collection + "</TDLMESSAGE></TDL></DESC></BODY></ENVELOPE>";
}

std::string Company(const std::string& company) {
  return "<SVCURRENTCOMPANY>" + modTally::EscapeXml(company) + "</SVCURRENTCOMPANY>";
}

// The text of the first child named `name`, trimmed ("" when there is none).
std::string Leaf(const pugi::xml_node& node, const char* name) {
  return std::string(text::Trim(modTally::NodeText(node.child(name))));
}

// The first child named `first`, else the first named `second`.
std::string LeafEither(const pugi::xml_node& node, const char* first, const char* second) {
  const pugi::xml_node found = node.child(first);
  return std::string(text::Trim(modTally::NodeText(found ? found : node.child(second))));
}

bool IsNamed(const pugi::xml_node& node, std::string_view a, std::string_view b = {}) {
  const std::string_view name = node.name();
  return name == a || (!b.empty() && name == b);
}

// Every element named `name` below `root`, in document order, not looking inside the ones found.
void Collect(const pugi::xml_node& root, std::string_view name, std::vector<pugi::xml_node>& out) {
  for (pugi::xml_node child = root.first_child(); child; child = child.next_sibling()) {
    if (child.type() != pugi::node_element) {
      continue;
    }
    if (child.name() == name) {
      out.push_back(child);
    } else {
      Collect(child, name, out);
    }
  }
}

// Loads and judges a reply: the ENVELOPE element, or a Failure naming `what`.
pugi::xml_node Envelope(pugi::xml_document& document, const modTally::Reply& reply,
                        const std::string& what) {
  return modTally::ReadExportReply(document, reply, {what, {}, false});
}

// Whether the envelope holds a collection of objects at all (an empty one counts).
bool HoldsCollection(const pugi::xml_node& root, std::string_view element) {
  std::vector<pugi::xml_node> found;
  for (const std::string_view name : {element, std::string_view("COLLECTION"),
                                      std::string_view("TALLYMESSAGE"), std::string_view("DATA")}) {
    Collect(root, name, found);
    if (!found.empty()) {
      return true;
    }
  }
  return false;
}

BooksLedgerLine LedgerLine(const pugi::xml_node& node) {
  return {Leaf(node, "LEDGERNAME"), Leaf(node, "AMOUNT"), Leaf(node, "ISDEEMEDPOSITIVE")};
}

BooksVoucher ReadVoucher(const pugi::xml_node& node) {
  BooksVoucher voucher;
  voucher.remote_id = std::string(text::Trim(node.attribute("REMOTEID").value()));
  if (voucher.remote_id.empty()) {
    voucher.remote_id = LeafEither(node, "REMOTEID", "GUID");
  }
  voucher.date = Leaf(node, "DATE");
  voucher.reference = Leaf(node, "REFERENCE");
  voucher.party = Leaf(node, "PARTYLEDGERNAME");
  for (const pugi::xml_node child : node.children()) {
    if (IsNamed(child, "ALLLEDGERENTRIES.LIST", "LEDGERENTRIES.LIST")) {
      voucher.ledgers.push_back(LedgerLine(child));
    } else if (IsNamed(child, "ALLINVENTORYENTRIES.LIST", "INVENTORYENTRIES.LIST")) {
      BooksInventoryLine line;
      line.item = Leaf(child, "STOCKITEMNAME");
      line.quantity = LeafEither(child, "ACTUALQTY", "BILLEDQTY");
      line.rate = Leaf(child, "RATE");
      line.amount = Leaf(child, "AMOUNT");
      for (const pugi::xml_node allocation : child.children("ACCOUNTINGALLOCATIONS.LIST")) {
        line.allocations.push_back(LedgerLine(allocation));
      }
      voucher.inventory.push_back(std::move(line));
    }
  }
  return voucher;
}

std::string VoucherType(const pugi::xml_node& node) {
  std::string type(text::Trim(node.attribute("VCHTYPE").value()));
  return type.empty() ? Leaf(node, "VOUCHERTYPENAME") : type;
}

}  // namespace

std::string VoucherExportRequest(const std::string& company, std::string_view from,
                                 std::string_view to) {
  return Envelope(kVoucherCollection,
                  Company(company) + "<SVFROMDATE>" + modTally::EscapeXml(from) +
                      "</SVFROMDATE><SVTODATE>" + modTally::EscapeXml(to) + "</SVTODATE>",
                  std::string("<COLLECTION NAME=\"") + kVoucherCollection +
                      "\" ISMODIFY=\"No\"><TYPE>Voucher</TYPE><FETCH>Date, Guid, RemoteId, "
                      "VoucherTypeName, VoucherNumber, Reference, PartyLedgerName, "
                      "AllLedgerEntries, AllInventoryEntries</FETCH><FILTER>LirvoIsSales</FILTER>"
                      "</COLLECTION><SYSTEM TYPE=\"Formulae\" NAME=\"LirvoIsSales\">"
                      "$VoucherTypeName = &quot;Sales&quot;</SYSTEM>");
}

std::string MasterExportRequest(const std::string& company, MasterType type) {
  const MasterCollection c = CollectionOf(type);
  return Envelope(c.id, Company(company),
                  std::string("<COLLECTION NAME=\"") + c.id + "\" ISMODIFY=\"No\"><TYPE>" + c.type +
                      "</TYPE><FETCH>" + c.fetch + "</FETCH></COLLECTION>");
}

std::vector<BooksVoucher> ReadVoucherReply(const modTally::Reply& reply, const std::string& what,
                                           std::string_view from, std::string_view to) {
  pugi::xml_document document;
  const pugi::xml_node root = Envelope(document, reply, what);
  std::vector<pugi::xml_node> nodes;
  Collect(root, "VOUCHER", nodes);
  if (nodes.empty() && !HoldsCollection(root, "VOUCHER")) {
    throw Failure(FailureNumber::kDocument,
                  what + ": the reply holds no COLLECTION, TALLYMESSAGE or VOUCHER");
  }
  std::vector<BooksVoucher> vouchers;
  vouchers.reserve(nodes.size());
  for (const pugi::xml_node& node : nodes) {
    const std::string type = VoucherType(node);
    if (!type.empty() && !text::EqualsNoCase(type, "Sales")) {
      continue;
    }
    BooksVoucher voucher = ReadVoucher(node);
    if (!from.empty() && !to.empty() && voucher.date.size() == 8 &&
        (voucher.date < from || voucher.date > to)) {
      continue;
    }
    vouchers.push_back(std::move(voucher));
  }
  return vouchers;
}

std::vector<BooksMaster> ReadMasterReply(const modTally::Reply& reply, MasterType type,
                                         const std::string& what) {
  const MasterCollection c = CollectionOf(type);
  pugi::xml_document document;
  const pugi::xml_node root = Envelope(document, reply, what);
  std::vector<pugi::xml_node> nodes;
  Collect(root, c.element, nodes);
  if (nodes.empty() && !HoldsCollection(root, c.element)) {
    throw Failure(FailureNumber::kDocument,
                  what + ": the reply holds no COLLECTION, TALLYMESSAGE or " + c.element);
  }
  std::vector<BooksMaster> masters;
  masters.reserve(nodes.size());
  for (const pugi::xml_node& node : nodes) {
    BooksMaster master;
    master.name = std::string(text::Trim(node.attribute("NAME").value()));
    if (master.name.empty()) {
      master.name = Leaf(node, "NAME");
    }
    if (master.name.empty()) {
      master.name = Leaf(node.child("NAME.LIST"), "NAME");
    }
    master.parent = Leaf(node, "PARENT");
    master.base_units = Leaf(node, "BASEUNITS");
    if (!master.name.empty()) {
      masters.push_back(std::move(master));
    }
  }
  return masters;
}

std::vector<BooksMaster> FetchMasters(const std::string& url, const std::string& company,
                                      MasterType type, const modTally::ExchangeLimits& limits) {
  const std::string what = std::string("cannot read the ") + CollectionOf(type).type +
                           " masters of \"" + company + "\" from " + url;
  modTally::Reply reply;
  try {
    reply = modTally::Exchange(url, MasterExportRequest(company, type), limits);
  } catch (const Failure& failure) {
    throw Failure(failure.number(), what + ": " + failure.description());
  }
  return ReadMasterReply(reply, type, what);
}

}  // namespace lirvo::transfer
