// The stand-in's collection exports: vouchers and masters written as the server exports them, and
// the collection requests read, filtered and answered. Both follow the server's export shape and
// change together, so they stay in one file of a little under 500 lines.
#include "exports.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <limits>
#include <string_view>
#include <vector>

#include <lirvo/modTally.h>

#include "text.h"
#include "values.h"
#include "vouchers.h"

namespace lirvo::standin {

namespace {

// The collection types the stand-in answers, as named in TYPE, and their element.
struct CollectionType {
  std::string_view name;
  std::string_view element;
};

constexpr CollectionType kTypes[] = {{"Voucher", "VOUCHER"},
                                     {"Ledger", "LEDGER"},
                                     {"Group", "GROUP"},
                                     {"Stock Item", "STOCKITEM"},
                                     {"Stock Group", "STOCKGROUP"},
                                     {"Godown", "GODOWN"},
                                     {"Unit", "UNIT"},
                                     {"Company", "COMPANY"}};

// `text` without its blanks, for comparing formulas.
std::string Squeezed(std::string_view text) {
  std::string out;
  for (const char c : text) {
    if (c != ' ' && c != '\t' && c != '\n' && c != '\r') {
      out += c;
    }
  }
  return out;
}

// Whether `formula` keeps the vouchers of the period SVFROMDATE to SVTODATE, as clients send it
// beside the two variables: the period itself is read from the variables.
bool IsPeriodFormula(std::string_view formula) {
  const std::string squeezed = Squeezed(formula);
  return EqualsNoCase(squeezed, "($Date>=##SVFROMDATE)AND($Date<=##SVTODATE)") ||
         EqualsNoCase(squeezed, "$Date>=##SVFROMDATEAND$Date<=##SVTODATE");
}

// A collection of the vouchers of one type, as TDL names it: TYPE "Vouchers : VoucherType" with
// the type in CHILDOF.
bool IsVouchersOfType(std::string_view type) {
  return EqualsNoCase(Squeezed(type), "Vouchers:VoucherType");
}

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

// Appends `value` escaped as the server writes it: the control characters XML 1.0 forbids (the
// &#4; its exports put before some values) as character references. One pass, no copy: an export
// writes it for every leaf of every voucher.
void AppendEscaped(std::string& out, std::string_view value) {
  std::size_t plain = 0;  // where the run of characters copied as they are starts
  for (std::size_t i = 0; i < value.size(); ++i) {
    const char c = value[i];
    std::string_view instead;
    char reference[8];
    switch (c) {
      case '&':
        instead = "&amp;";
        break;
      case '<':
        instead = "&lt;";
        break;
      case '>':
        instead = "&gt;";
        break;
      case '"':
        instead = "&quot;";
        break;
      case '\'':
        instead = "&apos;";
        break;
      default:
        if (c >= 0 && c < 0x20 && c != '\t' && c != '\n' && c != '\r') {
          const int length = std::snprintf(reference, sizeof reference, "&#%d;", c);
          instead = std::string_view(reference, static_cast<std::size_t>(length));
        } else {
          continue;
        }
    }
    out.append(value.substr(plain, i - plain)).append(instead);
    plain = i + 1;
  }
  out.append(value.substr(plain));
}

std::string Escaped(std::string_view value) {
  std::string out;
  AppendEscaped(out, value);
  return out;
}

void Leaf(std::string& out, std::string_view name, std::string_view type, std::string_view value) {
  out.append("<").append(name);
  if (!type.empty()) {
    out.append(" TYPE=\"").append(type).append("\"");
  }
  out.append(">");
  AppendEscaped(out, value);
  out.append("</").append(name).append(">");
}

// A ledger line; `party` says whether it is the line of the voucher's PARTYLEDGERNAME.
void LedgerLeaves(std::string& out, const EntryRecord& entry, bool party) {
  Leaf(out, "LEDGERNAME", "String", entry.name);
  Leaf(out, "ISDEEMEDPOSITIVE", "Logical", entry.deemed_positive);
  Leaf(out, "ISPARTYLEDGER", "Logical", party ? "Yes" : "No");
  Leaf(out, "AMOUNT", "Amount", entry.amount);
}

void BatchAllocation(std::string& out, const EntryRecord& entry) {
  out.append("<BATCHALLOCATIONS.LIST>");
  Leaf(out, "GODOWNNAME", "String", entry.name);
  Leaf(out, "BATCHNAME", "String", entry.batch_name);
  Leaf(out, "ORDERNO", "String", entry.order_no);
  Leaf(out, "TRACKINGNUMBER", "String", entry.tracking_no);
  Leaf(out, "ORDERDUEDATE", "Date", entry.due_date);
  Leaf(out, "AMOUNT", "Amount", entry.amount);
  Leaf(out, "ACTUALQTY", "Quantity", entry.actual_qty);
  Leaf(out, "BILLEDQTY", "Quantity", entry.billed_qty);
  out.append("</BATCHALLOCATIONS.LIST>");
}

void InventoryLeaves(std::string& out, const EntryRecord& entry) {
  Leaf(out, "STOCKITEMNAME", "String", entry.name);
  Leaf(out, "ISDEEMEDPOSITIVE", "Logical", entry.deemed_positive);
  Leaf(out, "RATE", "Rate", entry.rate);
  Leaf(out, "ACTUALQTY", "Quantity", entry.actual_qty);
  Leaf(out, "BILLEDQTY", "Quantity", entry.billed_qty);
  Leaf(out, "AMOUNT", "Amount", entry.amount);
}

// The view and invoice marks of a voucher, as the server's exports carry them: vouchers with
// items (invoices, orders, notes) in the invoice view, the Sales and Purchase among them as item
// invoices; the others in the accounting view.
void VoucherView(std::string& out, const VoucherRecord& voucher, bool items) {
  const bool invoice = items && (EqualsNoCase(Trim(voucher.type), "Sales") ||
                                 EqualsNoCase(Trim(voucher.type), "Purchase"));
  Leaf(out, "PERSISTEDVIEW", "String", items ? "Invoice Voucher View" : "Accounting Voucher View");
  if (invoice) {
    Leaf(out, "VCHENTRYMODE", "String", "Item Invoice");
  }
  Leaf(out, "ISINVOICE", "Logical", invoice ? "Yes" : "No");
}

// Each inventory line with its accounting and batch allocations, in the order stored.
void InventoryLines(std::string& out, const VoucherRecord& voucher) {
  bool open = false;
  for (const EntryRecord& entry : voucher.entries) {
    if (entry.kind == "inventory") {
      out.append(open ? "</ALLINVENTORYENTRIES.LIST>" : "").append("<ALLINVENTORYENTRIES.LIST>");
      InventoryLeaves(out, entry);
      open = true;
    } else if (entry.kind == "allocation" && open) {
      out.append("<ACCOUNTINGALLOCATIONS.LIST>");
      Leaf(out, "LEDGERNAME", "String", entry.name);
      Leaf(out, "ISDEEMEDPOSITIVE", "Logical", entry.deemed_positive);
      Leaf(out, "AMOUNT", "Amount", entry.amount);
      out.append("</ACCOUNTINGALLOCATIONS.LIST>");
    } else if (entry.kind == "batch" && open) {
      BatchAllocation(out, entry);
    }
  }
  if (open) {
    out.append("</ALLINVENTORYENTRIES.LIST>");
  }
}

// A voucher as the server exports it. The store keeps each inventory line followed by its
// accounting and batch allocations. A voucher with inventory lines (an item invoice, an order, a
// note) carries its ledger lines twice, as the server's exports do: LEDGERENTRIES.LIST as they
// were sent, and ALLLEDGERENTRIES.LIST, the whole accounting view: the party's line first, then
// each item's allocated ledger with the item under it in INVENTORYALLOCATIONS.LIST, then the
// other lines. A voucher without inventory lines (a receipt, a payment) carries
// ALLLEDGERENTRIES.LIST alone, the party's line first.
// Long: the voucher's elements in the order the server exports them.
void Voucher(std::string& out, const VoucherRecord& voucher) {
  const bool items =
      std::any_of(voucher.entries.begin(), voucher.entries.end(),
                  [](const EntryRecord& entry) { return entry.kind == "inventory"; });
  out.append("<VOUCHER REMOTEID=\"")
      .append(Escaped(voucher.remote_id))
      .append("\" VCHTYPE=\"")
      .append(Escaped(voucher.type))
      .append("\" ACTION=\"Create\" OBJVIEW=\"")
      .append(items ? "Invoice Voucher View" : "Accounting Voucher View")
      .append("\">");
  Leaf(out, "DATE", "Date", voucher.date);
  Leaf(out, "GUID", "String", voucher.guid);
  Leaf(out, "NARRATION", "String", voucher.narration);
  Leaf(out, "VOUCHERTYPENAME", "String", voucher.type);
  Leaf(out, "VOUCHERNUMBER", "String", voucher.number);
  Leaf(out, "REFERENCE", "String", voucher.reference);
  Leaf(out, "PARTYLEDGERNAME", "String", voucher.party);
  VoucherView(out, voucher, items);
  InventoryLines(out, voucher);
  const auto is_party = [&](const EntryRecord& entry) {
    return EqualsNoCase(Trim(entry.name), Trim(voucher.party));
  };
  const auto ledger_lines = [&](const char* list, bool party) {
    for (const EntryRecord& entry : voucher.entries) {
      if (entry.kind == "ledger" && is_party(entry) == party) {
        out.append("<").append(list).append(">");
        LedgerLeaves(out, entry, party);
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
        LedgerLeaves(out, entry, is_party(entry));
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
        Leaf(out, "ISPARTYLEDGER", "Logical", "No");
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

// The stored values of `master` other than those Master writes itself, nested again from their
// paths: consecutive values under the same list share one list element.
void OtherValues(std::string& out, std::string_view element, const MasterRecord& master) {
  std::vector<std::string_view> open;
  for (const auto& [path, value] : master.values) {
    if (path == "NAME" || path == "NAME.LIST/NAME" || path == "PARENT" || path == "ISSIMPLEUNIT" ||
        (path == "BASEUNITS" && element == "STOCKITEM")) {
      continue;
    }
    std::vector<std::string_view> parts;
    for (std::string_view rest = path;;) {
      const std::size_t slash = rest.find('/');
      parts.push_back(rest.substr(0, slash));
      if (slash == std::string_view::npos) {
        break;
      }
      rest.remove_prefix(slash + 1);
    }
    std::size_t shared = 0;
    while (shared < open.size() && shared + 1 < parts.size() && open[shared] == parts[shared]) {
      ++shared;
    }
    while (open.size() > shared) {
      out.append("</").append(open.back()).append(">");
      open.pop_back();
    }
    for (std::size_t i = shared; i + 1 < parts.size(); ++i) {
      out.append("<").append(parts[i]).append(">");
      open.push_back(parts[i]);
    }
    Leaf(out, parts.back(), "", value);
  }
  while (!open.empty()) {
    out.append("</").append(open.back()).append(">");
    open.pop_back();
  }
}

// A master as the server exports it: NAME, then PARENT (a unit: ISSIMPLEUNIT), a stock item's
// BASEUNITS, then every other value it holds. A primary group's PARENT is empty (the server
// writes "&#4; Primary" there; unconfirmed whether in every version).
void Master(std::string& out, std::string_view element, const MasterRecord& master) {
  out.append("<").append(element).append(" NAME=\"");
  out.append(Escaped(master.name)).append("\">");
  Leaf(out, "NAME", "String", master.name);
  if (element == "UNIT") {
    Leaf(out, "ISSIMPLEUNIT", "Logical", ValueOf(master, "ISSIMPLEUNIT"));
  } else {
    Leaf(out, "PARENT", "String", master.parent);
  }
  if (element == "STOCKITEM") {
    Leaf(out, "BASEUNITS", "String", ValueOf(master, "BASEUNITS"));
  }
  OtherValues(out, element, master);
  out.append("</").append(element).append(">");
}

// Applies the FILTERs of `collection` (each a comma-separated list of formula names, defined as
// SYSTEM TYPE="Formulae" in `message`) to `request`: a voucher type (`$VoucherTypeName = "Sales"`)
// or the period formula. False for a filter the stand-in cannot apply, or on anything but
// vouchers.
bool ReadFilters(const pugi::xml_node& collection, const pugi::xml_node& message,
                 CollectionRequest& request) {
  for (const pugi::xml_node filter : collection.children("FILTER")) {
    const std::string names = LeafText(filter);
    std::string_view rest = names;
    while (!rest.empty()) {
      const std::size_t comma = rest.find(',');
      const std::string_view name = Trim(rest.substr(0, comma));
      rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
      if (name.empty()) {
        continue;
      }
      std::optional<std::string> formula;
      for (const pugi::xml_node system : message.children("SYSTEM")) {
        if (EqualsNoCase(Trim(system.attribute("TYPE").value()), "Formulae") &&
            EqualsNoCase(Trim(system.attribute("NAME").value()), name)) {
          formula = LeafText(system);
        }
      }
      if (!formula || request.type != "VOUCHER") {
        return false;
      }
      if (IsPeriodFormula(*formula)) {
        continue;
      }
      const std::optional<std::string> voucher_type = VoucherTypeOf(*formula);
      if (!voucher_type) {
        return false;
      }
      request.vouchers.type = *voucher_type;
    }
  }
  return true;
}

}  // namespace

void AppendCompanyCounts(std::string& out, Store& store, std::int64_t company) {
  out += "<CMPINFO><COMPANY>1</COMPANY>";
  for (const std::string_view kind :
       {"GROUP", "LEDGER", "GODOWN", "STOCKGROUP", "STOCKITEM", "VOUCHERTYPE", "UNIT"}) {
    out.append("<").append(kind).append(">");
    out += kind == "VOUCHERTYPE" ? std::to_string(std::size(kVoucherTypes))
                                 : std::to_string(store.CountMasters(company, kind));
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
  if (IsVouchersOfType(type)) {
    request.type = "VOUCHER";
    request.vouchers.type = std::string(Trim(LeafText(collection.child("CHILDOF"))));
    if (request.vouchers.type.empty()) {
      return std::nullopt;
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
  if (!ReadFilters(collection, message, request)) {
    return std::nullopt;
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
