#include "exports.h"

#include <limits>
#include <string_view>

#include <lirvo/modTally.h>

#include "text.h"
#include "values.h"

namespace lirvo::standin {

namespace {

// The collection types the stand-in answers, as named in TYPE, and their element.
struct CollectionType {
  std::string_view name;
  std::string_view element;
};

constexpr CollectionType kTypes[] = {{"Voucher", "VOUCHER"},
                                     {"Ledger", "LEDGER"},
                                     {"Stock Item", "STOCKITEM"},
                                     {"Unit", "UNIT"},
                                     {"Company", "COMPANY"}};

// The voucher type a filter formula selects: `$VoucherTypeName = "Sales"` gives Sales. Nothing
// for any other formula.
std::optional<std::string> VoucherTypeOf(std::string_view formula) {
  formula = Trim(formula);
  constexpr std::string_view kField = "$VoucherTypeName";
  if (!EqualsNoCase(formula.substr(0, kField.size()), kField)) {
    return std::nullopt;
  }
  formula = Trim(formula.substr(kField.size()));
  if (formula.empty() || formula.front() != '=') {
    return std::nullopt;
  }
  formula = Trim(formula.substr(1));
  if (formula.size() < 2 || formula.front() != '"' || formula.back() != '"') {
    return std::nullopt;
  }
  const std::string_view value = formula.substr(1, formula.size() - 2);
  if (value.find('"') != std::string_view::npos || Trim(value).empty()) {
    return std::nullopt;
  }
  return std::string(value);
}

// <NAME TYPE="type">value</NAME>, escaped.
void Leaf(std::string& out, std::string_view name, std::string_view type, std::string_view value) {
  out.append("<").append(name).append(" TYPE=\"").append(type).append("\">");
  out.append(modTally::EscapeXml(value)).append("</").append(name).append(">");
}

void LedgerLeaves(std::string& out, const EntryRecord& entry) {
  Leaf(out, "LEDGERNAME", "String", entry.name);
  Leaf(out, "ISDEEMEDPOSITIVE", "Logical", entry.deemed_positive);
  Leaf(out, "AMOUNT", "Amount", entry.amount);
}

void InventoryLeaves(std::string& out, const EntryRecord& entry) {
  Leaf(out, "STOCKITEMNAME", "String", entry.name);
  Leaf(out, "ISDEEMEDPOSITIVE", "Logical", entry.deemed_positive);
  Leaf(out, "RATE", "Rate", entry.rate);
  Leaf(out, "ACTUALQTY", "Quantity", entry.actual_qty);
  Leaf(out, "BILLEDQTY", "Quantity", entry.billed_qty);
  Leaf(out, "AMOUNT", "Amount", entry.amount);
}

// A voucher as the server exports it. The store keeps each inventory line followed by its
// accounting allocations. A voucher with inventory lines (an item invoice) carries its ledger
// lines twice, as the server's exports do: LEDGERENTRIES.LIST as they were sent, and
// ALLLEDGERENTRIES.LIST, the whole accounting view: the party's line first, then each item's
// allocated ledger with the item under it in INVENTORYALLOCATIONS.LIST, then the other lines. A
// voucher without inventory lines carries ALLLEDGERENTRIES.LIST alone.
void Voucher(std::string& out, const VoucherRecord& voucher) {
  out.append("<VOUCHER REMOTEID=\"")
      .append(modTally::EscapeXml(voucher.remote_id))
      .append("\" VCHTYPE=\"")
      .append(modTally::EscapeXml(voucher.type))
      .append("\" ACTION=\"Create\">");
  Leaf(out, "DATE", "Date", voucher.date);
  Leaf(out, "GUID", "String", voucher.guid);
  Leaf(out, "VOUCHERTYPENAME", "String", voucher.type);
  Leaf(out, "VOUCHERNUMBER", "String", voucher.number);
  Leaf(out, "REFERENCE", "String", voucher.reference);
  Leaf(out, "PARTYLEDGERNAME", "String", voucher.party);
  bool open = false;
  bool items = false;
  for (const EntryRecord& entry : voucher.entries) {
    if (entry.kind == "inventory") {
      out.append(open ? "</ALLINVENTORYENTRIES.LIST>" : "").append("<ALLINVENTORYENTRIES.LIST>");
      InventoryLeaves(out, entry);
      open = items = true;
    } else if (entry.kind == "allocation" && open) {
      out.append("<ACCOUNTINGALLOCATIONS.LIST>");
      Leaf(out, "LEDGERNAME", "String", entry.name);
      Leaf(out, "AMOUNT", "Amount", entry.amount);
      out.append("</ACCOUNTINGALLOCATIONS.LIST>");
    }
  }
  if (open) {
    out.append("</ALLINVENTORYENTRIES.LIST>");
  }
  const auto ledger_lines = [&](const char* list, bool party) {
    for (const EntryRecord& entry : voucher.entries) {
      if (entry.kind == "ledger" && EqualsNoCase(Trim(entry.name), Trim(voucher.party)) == party) {
        out.append("<").append(list).append(">");
        LedgerLeaves(out, entry);
        out.append("</").append(list).append(">");
      }
    }
  };
  if (!items) {
    for (const bool party : {true, false}) {
      ledger_lines("ALLLEDGERENTRIES.LIST", party);
    }
  } else {
    for (const EntryRecord& entry : voucher.entries) {
      if (entry.kind == "ledger") {
        out.append("<LEDGERENTRIES.LIST>");
        LedgerLeaves(out, entry);
        out.append("</LEDGERENTRIES.LIST>");
      }
    }
    ledger_lines("ALLLEDGERENTRIES.LIST", true);
    const EntryRecord* item = nullptr;
    for (const EntryRecord& entry : voucher.entries) {
      if (entry.kind == "inventory") {
        item = &entry;
      } else if (entry.kind == "allocation" && item) {
        out.append("<ALLLEDGERENTRIES.LIST>");
        Leaf(out, "LEDGERNAME", "String", entry.name);
        Leaf(out, "ISDEEMEDPOSITIVE", "Logical", item->deemed_positive);
        Leaf(out, "AMOUNT", "Amount", entry.amount);
        out.append("<INVENTORYALLOCATIONS.LIST>");
        InventoryLeaves(out, *item);
        out.append("</INVENTORYALLOCATIONS.LIST></ALLLEDGERENTRIES.LIST>");
      }
    }
    ledger_lines("ALLLEDGERENTRIES.LIST", false);
  }
  out.append("</VOUCHER>");
}

std::string ValueOf(const MasterRecord& master, std::string_view path) {
  for (const auto& [element, value] : master.values) {
    if (element == path) {
      return value;
    }
  }
  return "";
}

void Master(std::string& out, std::string_view element, const MasterRecord& master) {
  out.append("<").append(element).append(" NAME=\"");
  out.append(modTally::EscapeXml(master.name)).append("\">");
  Leaf(out, "NAME", "String", master.name);
  if (element == "UNIT") {
    Leaf(out, "ISSIMPLEUNIT", "Logical", ValueOf(master, "ISSIMPLEUNIT"));
  } else {
    Leaf(out, "PARENT", "String", master.parent);
  }
  if (element == "STOCKITEM") {
    Leaf(out, "BASEUNITS", "String", ValueOf(master, "BASEUNITS"));
  }
  out.append("</").append(element).append(">");
}

}  // namespace

void AppendCompanyCounts(std::string& out, Store& store, std::int64_t company) {
  out += "<CMPINFO><COMPANY>1</COMPANY>";
  for (const std::string_view kind :
       {"GROUP", "LEDGER", "GODOWN", "STOCKGROUP", "STOCKITEM", "UNIT"}) {
    out.append("<").append(kind).append(">");
    out += std::to_string(store.CountMasters(company, kind));
    out.append("</").append(kind).append(">");
  }
  out += "<VOUCHER>" + std::to_string(store.CountVouchers(company)) + "</VOUCHER></CMPINFO>";
}

bool IsCollectionExport(const pugi::xml_node& envelope) {
  return EqualsNoCase(Trim(LeafText(envelope.child("HEADER").child("TYPE"))), "Collection");
}

std::optional<CollectionRequest> ReadCollectionRequest(const pugi::xml_node& envelope) {
  const std::string id = LeafText(envelope.child("HEADER").child("ID"));
  const pugi::xml_node description = envelope.child("BODY").child("DESC");
  const pugi::xml_node statics = description.child("STATICVARIABLES");
  const pugi::xml_node message = description.child("TDL").child("TDLMESSAGE");
  pugi::xml_node collection;
  for (const pugi::xml_node candidate : message.children("COLLECTION")) {
    if (EqualsNoCase(Trim(candidate.attribute("NAME").value()), Trim(id))) {
      collection = candidate;
    }
  }
  if (!collection || Trim(id).empty()) {
    return std::nullopt;
  }
  CollectionRequest request;
  request.company = LeafText(statics.child("SVCURRENTCOMPANY"));
  const std::string type = LeafText(collection.child("TYPE"));
  for (const CollectionType& known : kTypes) {
    if (EqualsNoCase(Trim(type), known.name)) {
      request.type = known.element;
    }
  }
  if (request.type.empty()) {
    return std::nullopt;
  }
  request.vouchers.from = std::string(Trim(LeafText(statics.child("SVFROMDATE"))));
  request.vouchers.to = std::string(Trim(LeafText(statics.child("SVTODATE"))));
  for (const std::string& date : {request.vouchers.from, request.vouchers.to}) {
    if (!date.empty() && !IsDate(date)) {
      return std::nullopt;
    }
  }
  const std::string filter = LeafText(collection.child("FILTER"));
  if (!Trim(filter).empty()) {
    std::optional<std::string> voucher_type;
    for (const pugi::xml_node system : message.children("SYSTEM")) {
      if (EqualsNoCase(Trim(system.attribute("TYPE").value()), "Formulae") &&
          EqualsNoCase(Trim(system.attribute("NAME").value()), Trim(filter))) {
        voucher_type = VoucherTypeOf(LeafText(system));
      }
    }
    if (!voucher_type || request.type != "VOUCHER") {
      return std::nullopt;
    }
    request.vouchers.type = *voucher_type;
  }
  return request;
}

HttpReply CollectionReply(Store& store, std::int64_t company, const CollectionRequest& request) {
  HttpReply reply;
  std::string& out = reply.body;
  out = "<ENVELOPE><HEADER><VERSION>1</VERSION><STATUS>1</STATUS></HEADER><BODY><DESC>";
  AppendCompanyCounts(out, store, company);
  out += "</DESC><DATA><COLLECTION>";
  if (request.type == "VOUCHER") {
    store.ForEachVoucher(company, request.vouchers,
                         [&out](const VoucherRecord& voucher) { Voucher(out, voucher); });
  } else {
    for (const MasterRecord& master :
         store.Masters(company, request.type, std::numeric_limits<std::int64_t>::max())) {
      Master(out, request.type, master);
    }
  }
  out += "</COLLECTION></DATA></BODY></ENVELOPE>\n";
  return reply;
}

HttpReply CompanyCollectionReply(const std::vector<std::string>& companies) {
  HttpReply reply;
  std::string& out = reply.body;
  out =
      "<ENVELOPE><HEADER><VERSION>1</VERSION><STATUS>1</STATUS></HEADER><BODY><DESC/><DATA>"
      "<COLLECTION>";
  for (const std::string& company : companies) {
    const std::string name = modTally::EscapeXml(company);
    out.append("<COMPANY NAME=\"").append(name).append("\"><NAME>").append(name).append("</NAME>");
    Leaf(out, "STARTINGFROM", "Date", "20160401");
    out.append("</COMPANY>");
  }
  out += "</COLLECTION></DATA></BODY></ENVELOPE>\n";
  return reply;
}

}  // namespace lirvo::standin
