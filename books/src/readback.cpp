// Reading the books back: the collection export requests for sales vouchers by date range and for
// masters, and a tolerant reading of the replies, which differ in shape between server versions.
#include <lirvo/books/readback.h>
#include <lirvo/export_reply.h>
#include <lirvo/text.h>

namespace lirvo::books {

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

// The text of `leaf`, trimmed ("" for a null node). Most leaves hold one run of text, read where it
// sits rather than gathered into a string first.
std::string LeafText(const pugi::xml_node& leaf) {
  const pugi::xml_node only = leaf.first_child();
  if (only && !only.next_sibling() &&
      (only.type() == pugi::node_pcdata || only.type() == pugi::node_cdata)) {
    return std::string(text::Trim(only.value()));
  }
  return std::string(text::Trim(modTally::NodeText(leaf)));
}

// The text of the first child named `name`, trimmed ("" when there is none).
std::string Leaf(const pugi::xml_node& node, const char* name) {
  return LeafText(node.child(name));
}

// The first child named `first`, else the first named `second`.
std::string LeafEither(const pugi::xml_node& node, const char* first, const char* second) {
  const pugi::xml_node found = node.child(first);
  return LeafText(found ? found : node.child(second));
}

bool IsNamed(const pugi::xml_node& node, std::string_view a, std::string_view b = {}) {
  const std::string_view name = node.name();
  return name == a || (!b.empty() && name == b);
}

// Loads and judges a reply: the ENVELOPE element, or a Failure naming `what`.
pugi::xml_node Envelope(pugi::xml_document& document, const modTally::Reply& reply,
                        const std::string& what) {
  return modTally::ReadExportReply(document, reply, {what, {}, false});
}

// The deepest an element of a reply may sit below its ENVELOPE. The server's exports go about a
// dozen levels (BODY/DATA/COLLECTION/VOUCHER/ALLINVENTORYENTRIES.LIST/BATCHALLOCATIONS.LIST/...);
// a reply nested far deeper is not an export, and refusing it keeps every reading of it cheap.
constexpr std::size_t kDeepestElement = 64;

bool InDescription(pugi::xml_node node, const pugi::xml_node& root) {
  for (; node && node != root; node = node.parent()) {
    if (IsNamed(node, "DESC")) {
      return true;
    }
  }
  return false;
}

// The objects of a reply and whether it holds a collection of them at all (an empty one counts).
struct Objects {
  std::vector<pugi::xml_node> nodes;
  bool collection = false;
};

// The elements named `element` that are objects: children of a COLLECTION (BODY/DATA/COLLECTION
// in collection exports) or of a TALLYMESSAGE (file exports). Elements of the same name elsewhere
// are not objects: BODY/DESC/CMPINFO counts the company's objects by kind (<VOUCHER>39</VOUCHER>).
// Throws a Failure naming `what` when the reply nests deeper than kDeepestElement. The walk is
// pugixml's, which goes in document order without recursion (a hostile reply may nest deeper than
// the stack allows) and without a call into the library for each step.
class ObjectFinder : public pugi::xml_tree_walker {
 public:
  ObjectFinder(pugi::xml_node root, std::string_view element, const std::string& what)
      : root_(root), element_(element), what_(what) {}

  bool for_each(pugi::xml_node& node) override {
    if (node.type() != pugi::node_element) {
      return true;
    }
    // The walker counts the root's children as depth 0.
    if (static_cast<std::size_t>(depth()) + 1 > kDeepestElement) {
      throw Failure(FailureNumber::kDocument,
                    what_ + ": the reply nests elements more than " +
                        std::to_string(kDeepestElement) +
                        " levels deep, which no export of the server does");
    }
    const std::string_view name = node.name();
    if (name == "COLLECTION" || name == "TALLYMESSAGE" || name == "DATA") {
      found_.collection = found_.collection || !InDescription(node, root_);
    } else if (name == element_ && IsNamed(node.parent(), "COLLECTION", "TALLYMESSAGE")) {
      found_.nodes.push_back(node);
    }
    return true;
  }

  Objects Found() && { return std::move(found_); }

 private:
  pugi::xml_node root_;
  std::string_view element_;
  const std::string& what_;
  Objects found_;
};

Objects FindObjects(pugi::xml_node root, std::string_view element, const std::string& what) {
  ObjectFinder finder(root, element, what);
  root.traverse(finder);
  return std::move(finder).Found();
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
  // An item invoice exported by the server carries its ledger lines twice over:
  // LEDGERENTRIES.LIST holds the lines as the voucher was sent (the party and the tax), and
  // ALLLEDGERENTRIES.LIST is the server's whole accounting view, which repeats the party line and
  // adds the sales ledger that the items' ACCOUNTINGALLOCATIONS.LIST already carry (with an
  // INVENTORYALLOCATIONS.LIST under it). One list is read: LEDGERENTRIES.LIST when there is one,
  // else ALLLEDGERENTRIES.LIST without the lines that only restate the items' allocations. The
  // same for the items: ALLINVENTORYENTRIES.LIST when there is one, else INVENTORYENTRIES.LIST.
  const bool ledger_entries = static_cast<bool>(node.child("LEDGERENTRIES.LIST"));
  const bool all_inventory = static_cast<bool>(node.child("ALLINVENTORYENTRIES.LIST"));
  bool items_allocated = false;
  for (const pugi::xml_node child :
       node.children(all_inventory ? "ALLINVENTORYENTRIES.LIST" : "INVENTORYENTRIES.LIST")) {
    BooksInventoryLine line;
    line.item = Leaf(child, "STOCKITEMNAME");
    line.quantity = LeafEither(child, "ACTUALQTY", "BILLEDQTY");
    line.rate = Leaf(child, "RATE");
    line.amount = Leaf(child, "AMOUNT");
    for (const pugi::xml_node allocation : child.children("ACCOUNTINGALLOCATIONS.LIST")) {
      line.allocations.push_back(LedgerLine(allocation));
      items_allocated = true;
    }
    voucher.inventory.push_back(std::move(line));
  }
  for (const pugi::xml_node child :
       node.children(ledger_entries ? "LEDGERENTRIES.LIST" : "ALLLEDGERENTRIES.LIST")) {
    if (!ledger_entries && items_allocated && child.child("INVENTORYALLOCATIONS.LIST")) {
      continue;
    }
    voucher.ledgers.push_back(LedgerLine(child));
  }
  return voucher;
}

std::string VoucherType(const pugi::xml_node& node) {
  std::string type(text::Trim(node.attribute("VCHTYPE").value()));
  return type.empty() ? Leaf(node, "VOUCHERTYPENAME") : type;
}

}  // namespace

std::string VoucherExportRequest(const std::string& company, std::string_view from,
                                 std::string_view to, std::string_view type) {
  return Envelope(kVoucherCollection,
                  modTally::CompanyVariable(company) + "<SVFROMDATE>" + modTally::EscapeXml(from) +
                      "</SVFROMDATE><SVTODATE>" + modTally::EscapeXml(to) + "</SVTODATE>",
                  std::string("<COLLECTION NAME=\"") + kVoucherCollection +
                      "\" ISMODIFY=\"No\"><TYPE>Voucher</TYPE><FETCH>Date, Guid, RemoteId, "
                      "VoucherTypeName, VoucherNumber, Reference, PartyLedgerName, "
                      "AllLedgerEntries, AllInventoryEntries</FETCH><FILTER>LirvoIsSales</FILTER>"
                      "</COLLECTION><SYSTEM TYPE=\"Formulae\" NAME=\"LirvoIsSales\">"
                      "$VoucherTypeName = &quot;" +
                      modTally::EscapeXml(type) + "&quot;</SYSTEM>");
}

std::string CollectionRequest(const std::string& company, std::string_view type,
                              std::string_view fetch) {
  std::string id = "Lirvo";
  for (const char c : type) {
    if (c != ' ') {
      id += c;
    }
  }
  return Envelope(id, modTally::CompanyVariable(company),
                  "<COLLECTION NAME=\"" + id + "\" ISMODIFY=\"No\"><TYPE>" +
                      modTally::EscapeXml(type) + "</TYPE><FETCH>" + modTally::EscapeXml(fetch) +
                      "</FETCH></COLLECTION>");
}

std::string MasterExportRequest(const std::string& company, MasterType type) {
  const MasterCollection c = CollectionOf(type);
  return Envelope(c.id, modTally::CompanyVariable(company),
                  std::string("<COLLECTION NAME=\"") + c.id + "\" ISMODIFY=\"No\"><TYPE>" + c.type +
                      "</TYPE><FETCH>" + c.fetch + "</FETCH></COLLECTION>");
}

std::vector<BooksVoucher> ReadVoucherReply(const modTally::Reply& reply, const std::string& what,
                                           std::string_view from, std::string_view to) {
  pugi::xml_document document;
  const pugi::xml_node root = Envelope(document, reply, what);
  const Objects objects = FindObjects(root, "VOUCHER", what);
  const std::vector<pugi::xml_node>& nodes = objects.nodes;
  if (nodes.empty() && !objects.collection) {
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
  const Objects objects = FindObjects(root, c.element, what);
  const std::vector<pugi::xml_node>& nodes = objects.nodes;
  if (nodes.empty() && !objects.collection) {
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

std::vector<BooksMaster> FetchMasters(const modTally::Server& server, const std::string& company,
                                      MasterType type, const modTally::ExchangeLimits& limits) {
  const std::string what = std::string("cannot read the ") + CollectionOf(type).type +
                           " masters of \"" + company + "\" from " + modTally::ShownUrl(server.url);
  modTally::Reply reply;
  try {
    reply = modTally::Exchange(server, MasterExportRequest(company, type), limits);
  } catch (const Failure& failure) {
    throw Failure(failure, what + ": " + failure.description());
  }
  return ReadMasterReply(reply, type, what);
}

}  // namespace lirvo::books
