#include "masters.h"

#include <optional>
#include <string>

#include "text.h"
#include "values.h"

namespace lirvo::standin {

namespace {

// A master every company of the accounting server holds from the start.
struct Predefined {
  std::string_view kind;
  std::string_view name;
  std::string_view parent;  // empty: a primary group
};

// The 28 groups with their parents, the two ledgers and the godown the server creates in every
// company. The stock group "Primary" is no master: it is the empty parent of stock groups and
// items, as "Primary" is of groups, where it is refused as a parent by name.
constexpr Predefined kPredefined[] = {
    {"GROUP", "Branch / Divisions", ""},
    {"GROUP", "Capital Account", ""},
    {"GROUP", "Current Assets", ""},
    {"GROUP", "Current Liabilities", ""},
    {"GROUP", "Direct Expenses", ""},
    {"GROUP", "Direct Incomes", ""},
    {"GROUP", "Fixed Assets", ""},
    {"GROUP", "Indirect Expenses", ""},
    {"GROUP", "Indirect Incomes", ""},
    {"GROUP", "Investments", ""},
    {"GROUP", "Loans (Liability)", ""},
    {"GROUP", "Misc. Expenses (ASSET)", ""},
    {"GROUP", "Purchase Accounts", ""},
    {"GROUP", "Sales Accounts", ""},
    {"GROUP", "Suspense A/c", ""},
    {"GROUP", "Reserves & Surplus", "Capital Account"},
    {"GROUP", "Bank Accounts", "Current Assets"},
    {"GROUP", "Cash-in-Hand", "Current Assets"},
    {"GROUP", "Deposits (Asset)", "Current Assets"},
    {"GROUP", "Loans & Advances (Asset)", "Current Assets"},
    {"GROUP", "Stock-in-Hand", "Current Assets"},
    {"GROUP", "Sundry Debtors", "Current Assets"},
    {"GROUP", "Duties & Taxes", "Current Liabilities"},
    {"GROUP", "Provisions", "Current Liabilities"},
    {"GROUP", "Sundry Creditors", "Current Liabilities"},
    {"GROUP", "Bank OD A/c", "Loans (Liability)"},
    {"GROUP", "Secured Loans", "Loans (Liability)"},
    {"GROUP", "Unsecured Loans", "Loans (Liability)"},
    {"LEDGER", "Cash", "Cash-in-Hand"},
    {"LEDGER", "Profit & Loss A/c", ""},
    {"GODOWN", "Main Location", ""},
};

const Kind& KindOf(std::string_view element) {
  return *FindKind(element);
}

std::string SentValue(const pugi::xml_node& element, const char* name) {
  return std::string(Trim(LeafText(element.child(name))));
}

// The value at `path` that the master will hold: the one sent, else the one stored.
std::string Effective(const pugi::xml_node& element, const std::optional<MasterRecord>& existing,
                      const char* path) {
  std::string sent = SentValue(element, path);
  if (!sent.empty() || !existing) {
    return sent;
  }
  for (const auto& [stored_path, value] : existing->values) {
    if (stored_path == path) {
      return std::string(Trim(value));
    }
  }
  return "";
}

// Refuses `name` unless it is a master of `kind` in `company`; an empty name, and "Primary" where
// `primary_is_root`, are not checked.
void RequireParent(Store& store, std::int64_t company, const Kind& kind, std::string_view name,
                   bool primary_is_root) {
  name = Trim(name);
  if (name.empty() || (primary_is_root && EqualsNoCase(name, "Primary"))) {
    return;
  }
  RequireMaster(store, company, kind, name);
}

// A compound unit ("Ctn of 12 Pkt") names two simple units that exist already, and how many of
// the second make one of the first. The wording of these refusals is the stand-in's own
// (unconfirmed); a missing unit is refused as every missing master is.
void RequireCompoundUnit(Store& store, std::int64_t company, const std::string& label,
                         const pugi::xml_node& element,
                         const std::optional<MasterRecord>& existing) {
  for (const char* path : {"BASEUNITS", "ADDITIONALUNITS"}) {
    const std::string unit = Effective(element, existing, path);
    if (unit.empty()) {
      throw Rejection(label + ": a compound unit needs " + path);
    }
    const std::optional<MasterRecord> found = store.FindMaster(company, "UNIT", unit);
    if (!found) {
      throw Rejection("Unit " + Quoted(unit) + " does not exist!");
    }
    for (const auto& [stored_path, value] : found->values) {
      if (stored_path == "ISSIMPLEUNIT" && EqualsNoCase(Trim(value), "No")) {
        throw Rejection(label + ": " + Quoted(found->name) + " in " + path +
                        " is not a simple unit");
      }
    }
  }
  const std::string conversion = Effective(element, existing, "CONVERSION");
  const std::optional<double> factor = ParseAmount(conversion);
  if (!factor || *factor <= 0) {
    throw Rejection(label + ": CONVERSION " + Quoted(conversion) + " is not a number above zero");
  }
}

// The masters `element` names must exist, as the accounting server requires: the parent group
// of a ledger or group, the parent stock group of a stock item or stock group, the parent godown
// of a godown, the base unit of a stock item (which it must have) and the two units of a compound
// unit. The parents and units sent are checked; presence is checked on what the master will hold.
void RequireNamedMasters(Store& store, std::int64_t company, const Kind& kind,
                         const std::string& label, const pugi::xml_node& element,
                         const std::optional<MasterRecord>& existing) {
  const std::string parent = SentValue(element, "PARENT");
  if (kind.element == "LEDGER" || kind.element == "GROUP") {
    // "Primary" is where primary groups sit, not a group: sent as a parent it is refused.
    RequireParent(store, company, KindOf("GROUP"), parent, false);
  } else if (kind.element == "STOCKITEM" || kind.element == "STOCKGROUP") {
    RequireParent(store, company, KindOf("STOCKGROUP"), parent, true);
  } else if (kind.element == "GODOWN") {
    // Whether the server takes "Primary" as a godown's parent is unconfirmed; it is let through.
    RequireParent(store, company, KindOf("GODOWN"), parent, true);
  }
  if (kind.element == "STOCKITEM") {
    const std::string base = Effective(element, existing, "BASEUNITS");
    if (base.empty()) {
      // The server needs a base unit on every stock item; its wording is unconfirmed.
      throw Rejection(label + " has no BASEUNITS: a stock item needs a unit");
    }
    RequireParent(store, company, KindOf("UNIT"), SentValue(element, "BASEUNITS"), false);
  }
  if (kind.element == "UNIT") {
    if (element.child("NAME.LIST")) {
      // As a live server answered a unit named in a list.
      throw Rejection(label + ": BAD UNIT NAME (a unit carries its symbol in NAME, not NAME.LIST)");
    }
    if (EqualsNoCase(Effective(element, existing, "ISSIMPLEUNIT"), "No")) {
      RequireCompoundUnit(store, company, label, element, existing);
    }
  }
}

}  // namespace

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

const Kind& GodownKind() {
  return kKinds[3];
}

void AddPredefinedMasters(Store& store, std::int64_t company) {
  for (const Predefined& master : kPredefined) {
    if (!store.MasterId(company, master.kind, master.name)) {
      ElementValues values;
      if (!master.parent.empty()) {
        values.emplace_back("PARENT", master.parent);
      }
      store.AddMaster(company, master.kind,
                      {0, std::string(master.name), std::string(master.parent), values, true});
    }
  }
}

std::int64_t RequireMaster(Store& store, std::int64_t company, const Kind& kind,
                           std::string_view name) {
  const std::optional<std::int64_t> id = store.MasterId(company, kind.element, name);
  if (!id) {
    throw Rejection(std::string(kind.label) + " " + Quoted(name) + " does not exist!");
  }
  return *id;
}

// Long: a master's checks and its store in the order the server applies them.
Applied ApplyMaster(Store& store, bool strict, std::int64_t company, const Kind& kind,
                    const pugi::xml_node& element) {
  const std::string action = ActionOf(element);
  const std::string attribute_name = element.attribute("NAME").value();
  // The unit carries its name directly; every other master in its name list.
  std::string sent_name = kind.element == "UNIT"
                              ? LeafText(element.child("NAME"))
                              : LeafText(element.child("NAME.LIST").child("NAME"));
  if (Trim(sent_name).empty() && kind.element == "UNIT") {
    sent_name = LeafText(element.child("NAME.LIST").child("NAME"));
  }
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
    if (existing->predefined) {
      // The server keeps its own masters; its wording for this refusal is unconfirmed.
      throw Rejection(label + " " + Quoted(existing->name) +
                      " is predefined and cannot be deleted!");
    }
    if (const std::int64_t uses = store.VoucherUses(existing->id); uses > 0) {
      throw Rejection(label + " " + Quoted(existing->name) + " is used in " + std::to_string(uses) +
                      " voucher entries and cannot be deleted!");
    }
    store.RemoveMaster(existing->id);
    return {Outcome::kDeleted, existing->id, false};
  }

  const std::string new_name = Trim(sent_name).empty() ? target : sent_name;
  RequireNamedMasters(store, company, kind, label + " " + Quoted(new_name), element, existing);
  if (!existing) {
    if (alter && strict) {
      throw Rejection(label + " " + Quoted(target) + " does not exist!");
    }
    // `target` was looked for already; a new name other than it must be free too.
    if (new_name != target && store.MasterId(company, kind.element, new_name)) {
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

}  // namespace lirvo::standin
