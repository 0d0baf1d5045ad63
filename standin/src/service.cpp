#include <lirvo/standin/service.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <mutex>
#include <optional>
#include <stdexcept>

#include <pugixml.hpp>

#include "overview.h"
#include "store.h"
#include "text.h"

namespace lirvo::standin {

namespace {

// An item of an import that is refused; the message is its LINEERROR.
class Rejection : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

std::string Quoted(std::string_view text) {
  return "'" + std::string(text) + "'";
}

// ---------------------------------------------------------------------------------------------
// Replies

HttpReply XmlReply(int status, const pugi::xml_document& document) {
  return {status, "text/xml; charset=utf-8", Serialize(document)};
}

HttpReply MessageReply(int status, std::string_view message) {
  pugi::xml_document document;
  document.append_child("RESPONSE").text().set(std::string(message).c_str());
  return XmlReply(status, document);
}

HttpReply ProbeReply() {
  return MessageReply(200, kRunningLine);
}

HttpReply UnknownRequestReply() {
  return MessageReply(400, kUnknownRequest);
}

// What one import did, in the counters the accounting server reports.
struct Counters {
  std::int64_t created = 0;
  std::int64_t altered = 0;
  std::int64_t deleted = 0;
  std::int64_t last_voucher_id = 0;
  std::int64_t last_master_id = 0;
  std::int64_t combined = 0;
  std::int64_t ignored = 0;
  std::int64_t errors = 0;
  std::int64_t cancelled = 0;
  std::int64_t exceptions = 0;
  std::vector<std::string> line_errors;

  void Reject(std::string message) {
    ++errors;
    line_errors.push_back(std::move(message));
  }
};

HttpReply CountersReply(const Counters& counters) {
  pugi::xml_document document;
  pugi::xml_node response = document.append_child("RESPONSE");
  const std::pair<const char*, std::int64_t> fields[] = {
      {"CREATED", counters.created},        {"ALTERED", counters.altered},
      {"DELETED", counters.deleted},        {"LASTVCHID", counters.last_voucher_id},
      {"LASTMID", counters.last_master_id}, {"COMBINED", counters.combined},
      {"IGNORED", counters.ignored},        {"ERRORS", counters.errors},
      {"CANCELLED", counters.cancelled},    {"EXCEPTIONS", counters.exceptions}};
  for (const auto& [name, value] : fields) {
    response.append_child(name).text().set(static_cast<long long>(value));
  }
  for (const std::string& line : counters.line_errors) {
    response.append_child("LINEERROR").text().set(line.c_str());
  }
  return XmlReply(200, document);
}

// ---------------------------------------------------------------------------------------------
// Values read from requests

// Create when the action is absent or empty, as the accounting server takes it.
std::string ActionOf(const pugi::xml_node& element) {
  const std::string_view action = Trim(element.attribute("ACTION").value());
  return action.empty() ? std::string("Create") : std::string(action);
}

// An amount as the accounting server writes it: a decimal number, blanks around it allowed; an
// empty amount is zero.
std::optional<double> ParseAmount(std::string_view text) {
  text = Trim(text);
  if (text.empty()) {
    return 0.0;
  }
  double value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value, std::chars_format::fixed);
  if (error != std::errc() || stop != end || !std::isfinite(value)) {
    return std::nullopt;
  }
  return value;
}

// A date in the form YYYYMMDD naming a real day.
bool IsDate(std::string_view text) {
  if (text.size() != 8 ||
      !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return false;
  }
  const auto number = [&](std::size_t at, std::size_t length) {
    int value = 0;
    std::from_chars(text.data() + at, text.data() + at + length, value);
    return value;
  };
  const int year = number(0, 4);
  const int month = number(4, 2);
  const int day = number(6, 2);
  if (year < 1 || month < 1 || month > 12 || day < 1) {
    return false;
  }
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return day <= kDays[month - 1] + ((month == 2 && leap) ? 1 : 0);
}

std::string FormatAmount(double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.2f", value);
  return buffer;
}

// The leaves below a master element as (path, text), in document order, skipping empty ones.
// Walks the tree without recursion and refuses nesting deeper than kMaxValueDepth.
ElementValues CollectValues(const pugi::xml_node& master, const std::string& label) {
  ElementValues values;
  std::vector<std::string> path;
  pugi::xml_node node = master.first_child();
  while (node && node != master) {
    if (node.type() == pugi::node_element) {
      path.emplace_back(node.name());
      pugi::xml_node first_element = node.find_child(
          [](const pugi::xml_node& child) { return child.type() == pugi::node_element; });
      if (first_element) {
        if (static_cast<int>(path.size()) >= kMaxValueDepth) {
          throw Rejection(label + ": values nested deeper than " + std::to_string(kMaxValueDepth) +
                          " levels");
        }
        node = node.first_child();
        continue;
      }
      std::string text = LeafText(node);
      if (!text.empty()) {
        std::string joined;
        for (const std::string& part : path) {
          joined += (joined.empty() ? "" : "/") + part;
        }
        values.emplace_back(std::move(joined), std::move(text));
      }
      path.pop_back();
    }
    // Next node in document order: the next sibling, or the next sibling of the nearest ancestor
    // that has one, below `master`.
    while (node != master && !node.next_sibling()) {
      node = node.parent();
      if (node != master && node.type() == pugi::node_element) {
        path.pop_back();
      }
    }
    if (node == master) {
      break;
    }
    node = node.next_sibling();
  }
  return values;
}

// `sent` replaces the stored values of the same paths; the others are kept.
ElementValues MergeValues(const ElementValues& stored, const ElementValues& sent) {
  ElementValues merged = sent;
  for (const auto& value : stored) {
    const bool replaced = std::any_of(
        sent.begin(), sent.end(), [&](const auto& given) { return given.first == value.first; });
    if (!replaced) {
      merged.push_back(value);
    }
  }
  return merged;
}

struct Kind {
  std::string_view element;  // the master element, also the kind in the store
  std::string_view label;    // as named in messages
  std::string_view plural;   // as named by ACCOUNTTYPE
};

constexpr Kind kKinds[] = {{"UNIT", "Unit", "Units"},
                           {"LEDGER", "Ledger", "Ledgers"},
                           {"STOCKITEM", "Stock Item", "Stock Items"},
                           {"GODOWN", "Godown", "Godowns"},
                           {"GROUP", "Group", "Groups"},
                           {"STOCKGROUP", "Stock Group", "Stock Groups"}};

const Kind* FindKind(std::string_view element) {
  for (const Kind& kind : kKinds) {
    if (kind.element == element) {
      return &kind;
    }
  }
  return nullptr;
}

const Kind& LedgerKind() {
  return kKinds[1];
}
const Kind& StockItemKind() {
  return kKinds[2];
}

enum class Outcome { kCreated, kAltered, kDeleted };

struct Applied {
  Outcome outcome;
  std::int64_t id = 0;
  bool voucher = false;
};

}  // namespace

// ---------------------------------------------------------------------------------------------

struct Service::Impl {
  explicit Impl(Options given) : options(std::move(given)), store(options.data_path) {
    if (options.companies.empty()) {
      options.companies.emplace_back(kDefaultCompany);
    }
    for (std::size_t i = 0; i < options.companies.size(); ++i) {
      const std::string& name = options.companies[i];
      if (Trim(name).empty()) {
        throw std::runtime_error("a company name must not be empty");
      }
      for (std::size_t j = 0; j < i; ++j) {
        if (EqualsNoCase(options.companies[j], name)) {
          throw std::runtime_error("company " + Quoted(name) + " is named twice");
        }
      }
    }
    Store::Transaction transaction(store);
    for (const std::string& name : options.companies) {
      company_ids.push_back(store.EnsureCompany(name));
    }
    transaction.Commit();
  }

  HttpReply Post(std::string_view body);
  HttpReply Export(const pugi::xml_node& envelope);
  HttpReply ListOfAccounts(const pugi::xml_node& statics);
  HttpReply Import(const pugi::xml_node& envelope);
  Applied ApplyMaster(std::int64_t company, const Kind& kind, const pugi::xml_node& element);
  Applied ApplyVoucher(std::int64_t company, const pugi::xml_node& element);
  std::int64_t RequireMaster(std::int64_t company, const Kind& kind, std::string_view name);

  // The open company named `name` (case-insensitively); the current one for an empty name.
  std::optional<std::size_t> OpenCompany(std::string_view name) const {
    if (Trim(name).empty()) {
      return 0;
    }
    for (std::size_t i = 0; i < options.companies.size(); ++i) {
      if (EqualsNoCase(options.companies[i], name)) {
        return i;
      }
    }
    return std::nullopt;
  }

  Options options;
  std::mutex mutex;  // guards `store`
  Store store;
  std::vector<std::int64_t> company_ids;  // parallel to options.companies
};

HttpReply Service::Impl::Post(std::string_view body) {
  if (body.size() > kMaxRequestBytes) {
    return MessageReply(413, "Request too large: " + std::to_string(body.size()) +
                                 " bytes, the limit is " + std::to_string(kMaxRequestBytes));
  }
  if (Trim(body).empty()) {
    return ProbeReply();
  }
  if (static_cast<std::size_t>(std::count(body.begin(), body.end(), '<')) > kMaxMarkup) {
    return MessageReply(413,
                        "Request too large: more than " + std::to_string(kMaxMarkup) + " elements");
  }
  pugi::xml_document document;
  // pugixml never expands entities beyond the five predefined ones and character references; a
  // document type declaration is kept in the tree only so that it can be refused.
  if (!document.load_buffer(body.data(), body.size(), pugi::parse_default | pugi::parse_doctype)) {
    return UnknownRequestReply();
  }
  for (const pugi::xml_node node : document.children()) {
    if (node.type() == pugi::node_doctype) {
      return UnknownRequestReply();
    }
  }
  const pugi::xml_node envelope = document.child("ENVELOPE");
  const std::string request = LeafText(envelope.child("HEADER").child("TALLYREQUEST"));
  const std::string_view kind = Trim(request);
  if (EqualsNoCase(kind, "Export Data") || EqualsNoCase(kind, "Export")) {
    return Export(envelope);
  }
  if (EqualsNoCase(kind, "Import Data") || EqualsNoCase(kind, "Import")) {
    return Import(envelope);
  }
  return UnknownRequestReply();
}

HttpReply Service::Impl::Export(const pugi::xml_node& envelope) {
  const pugi::xml_node description =
      envelope.child("BODY").child("EXPORTDATA").child("REQUESTDESC");
  const std::string report = LeafText(description.child("REPORTNAME"));
  if (EqualsNoCase(Trim(report), "List of Companies")) {
    pugi::xml_document document;
    pugi::xml_node list = document.append_child("ENVELOPE").append_child("COMPANYNAME.LIST");
    for (const std::string& company : options.companies) {
      list.append_child("COMPANYNAME").text().set(company.c_str());
    }
    return XmlReply(200, document);
  }
  if (EqualsNoCase(Trim(report), "List of Accounts")) {
    return ListOfAccounts(description.child("STATICVARIABLES"));
  }
  return UnknownRequestReply();
}

HttpReply Service::Impl::ListOfAccounts(const pugi::xml_node& statics) {
  const std::string company_name = LeafText(statics.child("SVCURRENTCOMPANY"));
  const std::optional<std::size_t> company = OpenCompany(company_name);
  if (!company) {
    return MessageReply(404, "Company " + Quoted(company_name) + " is not open!");
  }
  const std::string type_text = LeafText(statics.child("ACCOUNTTYPE"));
  const std::string_view type = Trim(type_text);
  std::vector<const Kind*> kinds;
  for (const Kind& kind : kKinds) {
    const bool accounts = kind.element == "GROUP" || kind.element == "LEDGER";
    if (type.empty() || EqualsNoCase(type, "All Masters") || EqualsNoCase(type, kind.plural) ||
        (accounts && EqualsNoCase(type, "All Accounts")) ||
        (!accounts && EqualsNoCase(type, "All Inventory Masters"))) {
      kinds.push_back(&kind);
    }
  }
  if (kinds.empty()) {
    return UnknownRequestReply();
  }
  pugi::xml_document document;
  pugi::xml_node root = document.append_child("ENVELOPE");
  root.append_child("SVCURRENTCOMPANY").text().set(options.companies[*company].c_str());
  if (!type.empty()) {
    root.append_child("ACCOUNTTYPE").text().set(std::string(type).c_str());
  }
  pugi::xml_node message = root.append_child("TALLYMESSAGE");
  const std::lock_guard lock(mutex);
  for (const Kind* kind : kinds) {
    for (const MasterRecord& master : store.Masters(company_ids[*company], kind->element,
                                                    std::numeric_limits<std::int64_t>::max())) {
      pugi::xml_node element = message.append_child(std::string(kind->element).c_str());
      element.append_attribute("NAME").set_value(master.name.c_str());
      // Rebuild the nesting from the stored paths; consecutive values under the same list
      // share one list element.
      for (const auto& [path, value] : master.values) {
        pugi::xml_node parent = element;
        std::string_view rest = path;
        for (std::size_t slash = rest.find('/'); slash != std::string_view::npos;
             slash = rest.find('/')) {
          const std::string part(rest.substr(0, slash));
          pugi::xml_node last = parent.last_child();
          parent = (last && part == last.name()) ? last : parent.append_child(part.c_str());
          rest.remove_prefix(slash + 1);
        }
        parent.append_child(std::string(rest).c_str()).text().set(value.c_str());
      }
    }
  }
  return XmlReply(200, document);
}

HttpReply Service::Impl::Import(const pugi::xml_node& envelope) {
  const pugi::xml_node import = envelope.child("BODY").child("IMPORTDATA");
  const pugi::xml_node description = import.child("REQUESTDESC");
  const std::string report = LeafText(description.child("REPORTNAME"));
  if (!import ||
      !(EqualsNoCase(Trim(report), "All Masters") || EqualsNoCase(Trim(report), "Vouchers"))) {
    return UnknownRequestReply();
  }
  Counters counters;
  const std::string company_name =
      LeafText(description.child("STATICVARIABLES").child("SVCURRENTCOMPANY"));
  const std::optional<std::size_t> company = OpenCompany(company_name);
  if (!company) {
    counters.Reject("Company " + Quoted(company_name) + " is not open!");
    return CountersReply(counters);
  }

  std::vector<pugi::xml_node> items;
  for (const pugi::xml_node child : import.child("REQUESTDATA").children()) {
    if (child.type() != pugi::node_element) {
      continue;
    }
    if (std::string_view(child.name()) != "TALLYMESSAGE") {
      counters.Reject("Cannot import " + Quoted(child.name()) + ": not inside a TALLYMESSAGE");
      continue;
    }
    for (const pugi::xml_node item : child.children()) {
      if (item.type() == pugi::node_element) {
        items.push_back(item);
      }
    }
  }
  if (items.empty() && counters.errors == 0) {
    counters.Reject("Nothing to import: no master or voucher in REQUESTDATA");
    return CountersReply(counters);
  }

  const std::int64_t company_id = company_ids[*company];
  const std::lock_guard lock(mutex);
  Store::Transaction transaction(store);
  for (const pugi::xml_node& item : items) {
    Store::Savepoint savepoint(store);
    try {
      const std::string_view name = item.name();
      Applied applied;
      if (name == "VOUCHER") {
        applied = ApplyVoucher(company_id, item);
      } else if (const Kind* kind = FindKind(name)) {
        applied = ApplyMaster(company_id, *kind, item);
      } else {
        throw Rejection("Cannot import " + Quoted(name) +
                        ": not a master or voucher this server knows");
      }
      savepoint.Release();
      switch (applied.outcome) {
        case Outcome::kCreated:
          ++counters.created;
          break;
        case Outcome::kAltered:
          ++counters.altered;
          break;
        case Outcome::kDeleted:
          ++counters.deleted;
          break;
      }
      if (applied.outcome != Outcome::kDeleted) {
        (applied.voucher ? counters.last_voucher_id : counters.last_master_id) = applied.id;
      }
    } catch (const Rejection& rejection) {
      counters.Reject(rejection.what());
    }
  }
  transaction.Commit();
  return CountersReply(counters);
}

Applied Service::Impl::ApplyMaster(std::int64_t company, const Kind& kind,
                                   const pugi::xml_node& element) {
  const std::string action = ActionOf(element);
  const std::string attribute_name = element.attribute("NAME").value();
  // The unit carries its name directly; every other master in its name list.
  const std::string sent_name = kind.element == "UNIT"
                                    ? LeafText(element.child("NAME"))
                                    : LeafText(element.child("NAME.LIST").child("NAME"));
  const std::string label(kind.label);
  const pugi::xml_node parent_node = element.child("PARENT");

  // The master addressed: by its present name for Alter and Delete, by its new one for Create.
  const bool create = EqualsNoCase(action, "Create");
  const bool alter = EqualsNoCase(action, "Alter");
  const bool remove = EqualsNoCase(action, "Delete");
  std::string target = create ? sent_name : attribute_name;
  if (Trim(target).empty()) {
    target = create ? attribute_name : sent_name;
  }
  if (Trim(target).empty()) {
    throw Rejection(label + " has no name!");
  }
  if (!create && !alter && !remove) {
    throw Rejection(label + " " + Quoted(target) + ": unknown action " + Quoted(action));
  }
  const ElementValues sent_values = CollectValues(element, label + " " + Quoted(target));
  std::optional<MasterRecord> existing = store.FindMaster(company, kind.element, target);

  if (remove) {
    if (!existing) {
      throw Rejection(label + " " + Quoted(target) + " does not exist!");
    }
    if (const std::int64_t uses = store.VoucherUses(existing->id); uses > 0) {
      throw Rejection(label + " " + Quoted(existing->name) + " is used in " + std::to_string(uses) +
                      " voucher entries and cannot be deleted!");
    }
    store.RemoveMaster(existing->id);
    return {Outcome::kDeleted, existing->id, false};
  }

  const std::string new_name = Trim(sent_name).empty() ? target : sent_name;
  if (!existing) {
    if (alter && options.strict) {
      throw Rejection(label + " " + Quoted(target) + " does not exist!");
    }
    if (store.MasterId(company, kind.element, new_name)) {
      throw Rejection(label + " " + Quoted(new_name) + " already exists!");
    }
    const MasterRecord master{0, new_name, LeafText(parent_node), sent_values};
    return {Outcome::kCreated, store.AddMaster(company, kind.element, master), false};
  }

  // A rename must not take the name of another master of the same kind.
  if (!EqualsNoCase(new_name, existing->name)) {
    if (store.MasterId(company, kind.element, new_name)) {
      throw Rejection(label + " " + Quoted(new_name) + " already exists!");
    }
  }
  existing->name = new_name;
  if (parent_node) {
    existing->parent = LeafText(parent_node);
  }
  existing->values = MergeValues(existing->values, sent_values);
  store.ChangeMaster(*existing);
  return {Outcome::kAltered, existing->id, false};
}

std::int64_t Service::Impl::RequireMaster(std::int64_t company, const Kind& kind,
                                          std::string_view name) {
  const std::optional<std::int64_t> id = store.MasterId(company, kind.element, name);
  if (!id) {
    throw Rejection(std::string(kind.label) + " " + Quoted(name) + " does not exist!");
  }
  return *id;
}

Applied Service::Impl::ApplyVoucher(std::int64_t company, const pugi::xml_node& element) {
  const std::string action = ActionOf(element);
  VoucherRecord voucher;
  voucher.remote_id = element.attribute("REMOTEID").value();
  const std::string label =
      voucher.remote_id.empty() ? std::string("Voucher") : "Voucher " + Quoted(voucher.remote_id);
  const bool create = EqualsNoCase(action, "Create");
  const bool alter = EqualsNoCase(action, "Alter");
  const bool remove = EqualsNoCase(action, "Delete");
  if (!create && !alter && !remove) {
    throw Rejection(label + ": unknown action " + Quoted(action));
  }
  std::optional<std::int64_t> existing;
  if (!voucher.remote_id.empty()) {
    existing = store.FindVoucher(company, voucher.remote_id);
  }
  if (remove || alter) {
    if (voucher.remote_id.empty()) {
      throw Rejection("Voucher to " + std::string(remove ? "delete" : "alter") +
                      " has no REMOTEID!");
    }
    if (!existing && (remove || options.strict)) {
      throw Rejection(label + " does not exist!");
    }
  }
  if (remove) {
    store.RemoveVoucher(*existing);
    return {Outcome::kDeleted, *existing, true};
  }

  voucher.type = element.attribute("VCHTYPE").value();
  if (Trim(voucher.type).empty()) {
    voucher.type = LeafText(element.child("VOUCHERTYPENAME"));
  }
  if (Trim(voucher.type).empty()) {
    throw Rejection(label + " has no voucher type!");
  }
  voucher.date = std::string(Trim(LeafText(element.child("DATE"))));
  if (!IsDate(voucher.date)) {
    throw Rejection(label + ": date " + Quoted(voucher.date) +
                    " is not a date of the form YYYYMMDD");
  }
  voucher.guid = LeafText(element.child("GUID"));
  voucher.number = LeafText(element.child("VOUCHERNUMBER"));
  voucher.reference = LeafText(element.child("REFERENCE"));
  voucher.party = LeafText(element.child("PARTYLEDGERNAME"));
  voucher.narration = LeafText(element.child("NARRATION"));
  if (!Trim(voucher.party).empty()) {
    RequireMaster(company, LedgerKind(), voucher.party);
  }

  // The amounts of the ledger lines and of the inventory lines' accounting allocations must add
  // up to zero (debits are negative).
  double balance = 0;
  const auto amount_of = [&](const std::string& amount, const std::string& what) {
    const std::optional<double> value = ParseAmount(amount);
    if (!value) {
      throw Rejection(label + ": amount " + Quoted(amount) + " of " + what + " is not a number");
    }
    return *value;
  };
  const auto ledger_line = [&](const pugi::xml_node& line, const char* kind) {
    EntryRecord entry;
    entry.kind = kind;
    entry.name = LeafText(line.child("LEDGERNAME"));
    if (Trim(entry.name).empty()) {
      throw Rejection(label + ": a ledger entry names no ledger");
    }
    entry.master_id = RequireMaster(company, LedgerKind(), entry.name);
    entry.amount = LeafText(line.child("AMOUNT"));
    balance += amount_of(entry.amount, "Ledger " + Quoted(entry.name));
    entry.deemed_positive = LeafText(line.child("ISDEEMEDPOSITIVE"));
    return entry;
  };
  for (const pugi::xml_node line : element.children()) {
    const std::string_view name = line.name();
    if (name == "LEDGERENTRIES.LIST" || name == "ALLLEDGERENTRIES.LIST") {
      voucher.entries.push_back(ledger_line(line, "ledger"));
    } else if (name == "ALLINVENTORYENTRIES.LIST" || name == "INVENTORYENTRIES.LIST") {
      EntryRecord entry;
      entry.kind = "inventory";
      entry.name = LeafText(line.child("STOCKITEMNAME"));
      if (Trim(entry.name).empty()) {
        throw Rejection(label + ": an inventory entry names no stock item");
      }
      entry.master_id = RequireMaster(company, StockItemKind(), entry.name);
      entry.amount = LeafText(line.child("AMOUNT"));
      const double amount = amount_of(entry.amount, "Stock Item " + Quoted(entry.name));
      entry.deemed_positive = LeafText(line.child("ISDEEMEDPOSITIVE"));
      entry.actual_qty = LeafText(line.child("ACTUALQTY"));
      entry.billed_qty = LeafText(line.child("BILLEDQTY"));
      entry.rate = LeafText(line.child("RATE"));
      voucher.entries.push_back(std::move(entry));
      bool allocated = false;
      for (const pugi::xml_node allocation : line.children("ACCOUNTINGALLOCATIONS.LIST")) {
        voucher.entries.push_back(ledger_line(allocation, "allocation"));
        allocated = true;
      }
      // Without an allocation the line itself carries the amount into the balance.
      if (!allocated) {
        balance += amount;
      }
    }
  }
  if (voucher.entries.empty()) {
    throw Rejection(label + " has no ledger or inventory entries!");
  }
  if (std::fabs(balance) >= 0.005) {
    throw Rejection(label + ": the amounts do not balance (they add up to " +
                    FormatAmount(balance) + ")");
  }
  if (existing) {
    voucher.id = *existing;
    store.ReplaceVoucher(voucher);
    return {Outcome::kAltered, voucher.id, true};
  }
  return {Outcome::kCreated, store.AddVoucher(company, voucher), true};
}

// ---------------------------------------------------------------------------------------------

Service::Service(Options options) : impl_(std::make_unique<Impl>(std::move(options))) {}

Service::~Service() = default;

HttpReply Service::Post(std::string_view body) {
  try {
    return impl_->Post(body);
  } catch (const std::exception& failure) {
    return MessageReply(500, std::string("The request could not be applied: ") + failure.what());
  }
}

HttpReply Service::Get(std::string_view accept) {
  if (accept.find("text/html") == std::string_view::npos) {
    return ProbeReply();
  }
  try {
    const std::lock_guard lock(impl_->mutex);
    std::vector<CompanyView> companies;
    for (std::size_t i = 0; i < impl_->options.companies.size(); ++i) {
      companies.push_back({impl_->options.companies[i], impl_->company_ids[i]});
    }
    return {200, "text/html; charset=utf-8", OverviewPage(impl_->store, companies)};
  } catch (const std::exception& failure) {
    return {500, "text/plain; charset=utf-8",
            std::string("The overview could not be read: ") + failure.what() + "\n"};
  }
}

const std::vector<std::string>& Service::companies() const {
  return impl_->options.companies;
}

}  // namespace lirvo::standin
