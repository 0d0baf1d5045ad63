// The masters of a source: a row of a master table turned into its record, the masters a record or
// a document needs, and the order in which they can be created.
#include <algorithm>
#include <cctype>
#include <iterator>
#include <unordered_map>
#include <unordered_set>

#include <lirvo/books/masters.h>
#include <lirvo/master_message.h>
#include <lirvo/text.h>

#include "internal.h"

namespace lirvo::books {

namespace {

using modTally::Failure;
namespace FailureNumber = modTally::FailureNumber;

struct KindNames {
  MasterKind kind;
  std::string_view table;
  std::string_view kind_name;
};

constexpr KindNames kKinds[] = {
    {MasterKind::kUnit, "Units", "units"},
    {MasterKind::kGodown, "Godowns", "godowns"},
    {MasterKind::kLedgerGroup, "LedgerGroups", "ledger-groups"},
    {MasterKind::kLedger, "Ledgers", "ledgers"},
    {MasterKind::kStockGroup, "StockGroups", "stock-groups"},
    {MasterKind::kStockItem, "StockItems", "stock-items"},
};

const KindNames& NamesOf(MasterKind kind) {
  return kKinds[static_cast<std::size_t>(kind)];
}

// The groups every company holds from the start (a primary group has no parent).
constexpr std::string_view kPredefinedGroups[] = {
    "Branch / Divisions", "Capital Account", "Current Assets",    "Current Liabilities",
    "Direct Expenses",    "Direct Incomes",  "Fixed Assets",      "Indirect Expenses",
    "Indirect Incomes",   "Investments",     "Loans (Liability)", "Misc. Expenses (ASSET)",
    "Purchase Accounts",  "Sales Accounts",  "Suspense A/c",      "Reserves & Surplus",
    "Bank Accounts",      "Cash-in-Hand",    "Deposits (Asset)",  "Loans & Advances (Asset)",
    "Stock-in-Hand",      "Sundry Debtors",  "Duties & Taxes",    "Provisions",
    "Sundry Creditors",   "Bank OD A/c",     "Secured Loans",     "Unsecured Loans",
};

// Whether the server reads `field` as a flag, Yes or No: the fields named as questions
// (IsBillWiseOn, AffectsStock, UseForVat, ...) and a few others.
bool IsFlag(std::string_view field) {
  static constexpr std::string_view kStarts[] = {"Is",     "Has",   "Affects", "Allow",
                                                 "Ignore", "Treat", "UseFor",  "Override",
                                                 "Show",   "Track", "For"};
  static constexpr std::string_view kOthers[] = {"Audited", "InterestOnBillWise",
                                                 "TdsDeducteeIsSpecialRate"};
  return std::any_of(std::begin(kStarts), std::end(kStarts),
                     [field](std::string_view start) {
                       return field.size() > start.size() && field.starts_with(start) &&
                              std::isupper(static_cast<unsigned char>(field[start.size()]));
                     }) ||
         std::find(std::begin(kOthers), std::end(kOthers), field) != std::end(kOthers);
}

// A flag as the server spells it: true and false as databases write them (1 and 0, true and
// false, t and f, y and n, yes and no, in any case) are "Yes" and "No"; anything else stays as it
// is, for TextProblem to refuse.
std::string FlagText(std::string_view value) {
  for (const std::string_view yes : {"1", "true", "t", "y", "yes"}) {
    if (text::EqualsNoCase(value, yes)) {
      return "Yes";
    }
  }
  for (const std::string_view no : {"0", "false", "f", "n", "no"}) {
    if (text::EqualsNoCase(value, no)) {
      return "No";
    }
  }
  return std::string(value);
}

template <class Record>
Record Fill(MasterKind kind, const SourceRow& row) {
  Record record;
  const std::string_view table = NamesOf(kind).table;
  for (const auto& [column, value] : row) {
    const modTallyIm::Field<Record>* field = nullptr;
    for (const modTallyIm::Field<Record>& candidate : modTallyIm::FieldsOf<Record>()) {
      if (text::EqualsNoCase(candidate.name, text::Trim(column))) {
        field = &candidate;
      }
    }
    if (!field) {
      std::string names;
      for (const modTallyIm::Field<Record>& candidate : modTallyIm::FieldsOf<Record>()) {
        if (candidate.name != "OldName") {
          names += (names.empty() ? "" : ", ") + std::string(candidate.name);
        }
      }
      throw Failure(FailureNumber::kValue, "table " + std::string(table) + ", column " + column +
                                               ": a " + std::string(NamesOf(kind).kind_name) +
                                               " record has no such field; its fields are " +
                                               names);
    }
    if (field->name == "OldName") {
      throw Failure(FailureNumber::kValue,
                    "table " + std::string(table) + ", column " + column +
                        ": masters are only created from a source, never renamed; drop the "
                        "column");
    }
    const std::string_view trimmed = text::Trim(value);
    record.*(field->member) = IsFlag(field->name) ? FlagText(trimmed) : std::string(trimmed);
  }
  if (record.Name.empty()) {
    throw Failure(FailureNumber::kValue,
                  "table " + std::string(table) + ", column Name: a row has no Name");
  }
  return record;
}

void Add(std::vector<MasterRef>& needs, MasterKind kind, const std::string& name) {
  MasterRef master{kind, std::string(text::Trim(name))};
  if (master.name.empty() || IsPredefined(master)) {
    return;
  }
  for (const MasterRef& known : needs) {
    if (known.kind == kind && detail::SameName(known.name, master.name)) {
      return;
    }
  }
  needs.push_back(std::move(master));
}

}  // namespace

std::string_view TableName(MasterKind kind) {
  return NamesOf(kind).table;
}

std::string_view KindName(MasterKind kind) {
  return NamesOf(kind).kind_name;
}

std::optional<MasterKind> KindOfTable(std::string_view name) {
  for (const KindNames& names : kKinds) {
    if (detail::SameName(name, names.table)) {
      return names.kind;
    }
  }
  return std::nullopt;
}

std::optional<MasterKind> KindOfKindName(std::string_view name) {
  for (const KindNames& names : kKinds) {
    if (detail::SameName(name, names.kind_name)) {
      return names.kind;
    }
  }
  return std::nullopt;
}

MasterRecord MasterFromRow(MasterKind kind, const SourceRow& row) {
  switch (kind) {
    case MasterKind::kUnit:
      return Fill<modTallyIm::UnitMaster>(kind, row);
    case MasterKind::kGodown:
      return Fill<modTallyIm::GodownMaster>(kind, row);
    case MasterKind::kLedgerGroup:
      return Fill<modTallyIm::GroupMaster>(kind, row);
    case MasterKind::kLedger:
      return Fill<modTallyIm::LedgerMaster>(kind, row);
    case MasterKind::kStockGroup:
      return Fill<modTallyIm::StockGroupMaster>(kind, row);
    case MasterKind::kStockItem:
      return Fill<modTallyIm::StockItemMaster>(kind, row);
  }
  throw Failure(FailureNumber::kValue, "not a kind of master");
}

std::optional<std::string> TextProblem(const MasterRecord& record) {
  return std::visit(
      [](const auto& master) -> std::optional<std::string> {
        using Record = std::decay_t<decltype(master)>;
        for (const modTallyIm::Field<Record>& field : modTallyIm::FieldsOf<Record>()) {
          const std::string& value = master.*(field.member);
          if (std::optional<std::string> problem = detail::TextProblem(value)) {
            return std::string(field.name) + ": " + *problem;
          }
          if (!value.empty() && value != "Yes" && value != "No" && IsFlag(field.name)) {
            return std::string(field.name) + ": \"" + value + "\" is neither Yes nor No";
          }
        }
        return std::nullopt;
      },
      record);
}

// The variant's alternatives are in the order of MasterKind.
MasterKind KindOf(const MasterRecord& record) {
  return static_cast<MasterKind>(record.index());
}

const std::string& NameOf(const MasterRecord& record) {
  return std::visit([](const auto& master) -> const std::string& { return master.Name; }, record);
}

std::string CreateMessage(const MasterRecord& record) {
  return std::visit([](const auto& master) { return modTallyIm::MasterMessage(master, "Create"); },
                    record);
}

bool IsPredefined(const MasterRef& master) {
  switch (master.kind) {
    case MasterKind::kLedgerGroup:
      for (const std::string_view group : kPredefinedGroups) {
        if (detail::SameName(master.name, group)) {
          return true;
        }
      }
      return false;
    case MasterKind::kLedger:
      return detail::SameName(master.name, "Cash") ||
             detail::SameName(master.name, "Profit & Loss A/c");
    case MasterKind::kGodown:
      return detail::SameName(master.name, detail::kMainLocation);
    case MasterKind::kStockGroup:
      return detail::SameName(master.name, "Primary");
    case MasterKind::kUnit:
    case MasterKind::kStockItem:
      return false;
  }
  return false;
}

std::vector<MasterRef> Needs(const MasterRecord& record) {
  std::vector<MasterRef> needs;
  if (const auto* unit = std::get_if<modTallyIm::UnitMaster>(&record)) {
    if (unit->IsSimpleUnit != "Yes") {
      Add(needs, MasterKind::kUnit, unit->BaseUnits);
      Add(needs, MasterKind::kUnit, unit->AdditionalUnits);
    }
  } else if (const auto* godown = std::get_if<modTallyIm::GodownMaster>(&record)) {
    Add(needs, MasterKind::kGodown, godown->Parent);
  } else if (const auto* group = std::get_if<modTallyIm::GroupMaster>(&record)) {
    Add(needs, MasterKind::kLedgerGroup, group->Parent);
  } else if (const auto* ledger = std::get_if<modTallyIm::LedgerMaster>(&record)) {
    Add(needs, MasterKind::kLedgerGroup, ledger->Parent);
  } else if (const auto* stock_group = std::get_if<modTallyIm::StockGroupMaster>(&record)) {
    Add(needs, MasterKind::kUnit, stock_group->BaseUnits);
    Add(needs, MasterKind::kUnit, stock_group->AdditionalUnits);
    Add(needs, MasterKind::kStockGroup, stock_group->Parent);
  } else if (const auto* item = std::get_if<modTallyIm::StockItemMaster>(&record)) {
    Add(needs, MasterKind::kUnit, item->BaseUnits);
    Add(needs, MasterKind::kUnit, item->AdditionalUnits);
    Add(needs, MasterKind::kStockGroup, item->Parent);
  }
  return needs;
}

std::vector<MasterRef> Needs(const Document& document) {
  std::vector<MasterRef> needs;
  Add(needs, MasterKind::kLedger, document.party);
  for (const Line& line : document.lines) {
    Add(needs, MasterKind::kLedger, line.ledger);
    Add(needs, MasterKind::kUnit, line.unit);
    Add(needs, MasterKind::kGodown, line.godown);
    Add(needs, MasterKind::kStockItem, line.item);
  }
  return needs;
}

std::vector<std::size_t> DependencyOrder(std::span<const MasterRecord* const> records) {
  // Each master by kind and name (folded), the first of a name when a source repeats it.
  std::unordered_map<std::string, std::size_t> index;
  const auto key = [](MasterKind kind, std::string_view name) {
    return std::to_string(static_cast<int>(kind)) + ":" + text::FoldCase(text::Trim(name));
  };
  for (std::size_t i = 0; i < records.size(); ++i) {
    index.emplace(key(KindOf(*records[i]), NameOf(*records[i])), i);
  }
  std::vector<std::size_t> order;
  order.reserve(records.size());
  enum class State : char { kNew, kOpen, kDone };
  std::vector<State> state(records.size(), State::kNew);
  for (const MasterKind kind : kMasterKinds) {
    for (std::size_t first = 0; first < records.size(); ++first) {
      if (KindOf(*records[first]) != kind || state[first] != State::kNew) {
        continue;
      }
      // Depth first, without recursion: a chain of parents may be as long as the table.
      std::vector<std::pair<std::size_t, std::vector<MasterRef>>> stack;
      stack.emplace_back(first, Needs(*records[first]));
      state[first] = State::kOpen;
      while (!stack.empty()) {
        auto& [current, needs] = stack.back();
        if (needs.empty()) {
          state[current] = State::kDone;
          order.push_back(current);
          stack.pop_back();
          continue;
        }
        const MasterRef need = std::move(needs.back());
        needs.pop_back();
        const auto found = need.kind == kind ? index.find(key(need.kind, need.name)) : index.end();
        if (found != index.end() && state[found->second] == State::kNew) {
          state[found->second] = State::kOpen;
          stack.emplace_back(found->second, Needs(*records[found->second]));
        }
      }
    }
  }
  return order;
}

}  // namespace lirvo::books
