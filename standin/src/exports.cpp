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
  for (const EntryRecord& entry : voucher.entries) {
    if (entry.kind == "ledger") {
      out.append("<ALLLEDGERENTRIES.LIST>");
      Leaf(out, "LEDGERNAME", "String", entry.name);
      Leaf(out, "ISDEEMEDPOSITIVE", "Logical", entry.deemed_positive);
      Leaf(out, "AMOUNT", "Amount", entry.amount);
      out.append("</ALLLEDGERENTRIES.LIST>");
    }
  }
  // An inventory line is followed in the store by its accounting allocations.
  bool open = false;
  for (const EntryRecord& entry : voucher.entries) {
    if (entry.kind == "inventory") {
      if (open) {
        out.append("</ALLINVENTORYENTRIES.LIST>");
      }
      out.append("<ALLINVENTORYENTRIES.LIST>");
      Leaf(out, "STOCKITEMNAME", "String", entry.name);
      Leaf(out, "ISDEEMEDPOSITIVE", "Logical", entry.deemed_positive);
      Leaf(out, "RATE", "Rate", entry.rate);
      Leaf(out, "ACTUALQTY", "Quantity", entry.actual_qty);
      Leaf(out, "BILLEDQTY", "Quantity", entry.billed_qty);
      Leaf(out, "AMOUNT", "Amount", entry.amount);
      open = true;
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
  out =
      "<ENVELOPE><HEADER><VERSION>1</VERSION><STATUS>1</STATUS></HEADER><BODY><DESC/><DATA>"
      "<COLLECTION>";
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
