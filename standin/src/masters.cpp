#include "masters.h"

#include <algorithm>
#include <optional>
#include <span>
#include <string>

#include "text.h"
#include "values.h"

namespace lirvo::standin {

namespace {

// The groups every company of the accounting server holds from the start.
constexpr std::string_view kPredefinedGroups[] = {"Primary",
                                                  "Capital Account",
                                                  "Current Assets",
                                                  "Current Liabilities",
                                                  "Sundry Debtors",
                                                  "Sundry Creditors",
                                                  "Sales Accounts",
                                                  "Purchase Accounts",
                                                  "Duties & Taxes",
                                                  "Direct Expenses",
                                                  "Indirect Expenses",
                                                  "Direct Incomes",
                                                  "Indirect Incomes",
                                                  "Bank Accounts",
                                                  "Cash-in-Hand",
                                                  "Loans (Liability)",
                                                  "Fixed Assets",
                                                  "Investments",
                                                  "Stock-in-Hand",
                                                  "Deposits (Asset)",
                                                  "Loans & Advances (Asset)",
                                                  "Provisions",
                                                  "Reserves & Surplus",
                                                  "Secured Loans",
                                                  "Unsecured Loans",
                                                  "Bank OD A/c",
                                                  "Branch / Divisions",
                                                  "Misc. Expenses (ASSET)",
                                                  "Suspense A/c"};

// The stock groups every company holds from the start.
constexpr std::string_view kPredefinedStockGroups[] = {"Primary"};

const Kind& KindOf(std::string_view element) {
  return *FindKind(element);
}

// Refuses `name` when it is neither one of `predefined` nor a master of `kind` in `company`;
// an empty name is not checked.
void RequireKnown(Store& store, std::int64_t company, const Kind& kind,
                  std::span<const std::string_view> predefined, std::string_view name) {
  if (Trim(name).empty() ||
      std::any_of(predefined.begin(), predefined.end(),
                  [&](std::string_view known) { return EqualsNoCase(known, Trim(name)); })) {
    return;
  }
  RequireMaster(store, company, kind, name);
}

// The masters `element` names must exist, as the accounting server requires: the parent group
// of a ledger or group, the parent stock group of a stock item or stock group, and the base unit
// of a stock item. Only the values sent are checked.
void RequireNamedMasters(Store& store, std::int64_t company, const Kind& kind,
                         const pugi::xml_node& element) {
  const std::string parent = LeafText(element.child("PARENT"));
  if (kind.element == "LEDGER" || kind.element == "GROUP") {
    RequireKnown(store, company, KindOf("GROUP"), kPredefinedGroups, parent);
  } else if (kind.element == "STOCKITEM" || kind.element == "STOCKGROUP") {
    RequireKnown(store, company, KindOf("STOCKGROUP"), kPredefinedStockGroups, parent);
  }
  if (kind.element == "STOCKITEM") {
    RequireKnown(store, company, KindOf("UNIT"), {}, LeafText(element.child("BASEUNITS")));
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

std::int64_t RequireMaster(Store& store, std::int64_t company, const Kind& kind,
                           std::string_view name) {
  const std::optional<std::int64_t> id = store.MasterId(company, kind.element, name);
  if (!id) {
    throw Rejection(std::string(kind.label) + " " + Quoted(name) + " does not exist!");
  }
  return *id;
}

Applied ApplyMaster(Store& store, bool strict, std::int64_t company, const Kind& kind,
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
  RequireNamedMasters(store, company, kind, element);
  if (!existing) {
    if (alter && strict) {
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

}  // namespace lirvo::standin
