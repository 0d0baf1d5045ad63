// The masters a source holds, one table per kind (Godowns, Units, StockGroups, StockItems,
// LedgerGroups, Ledgers), whose columns are the master record's field names; and the masters a
// document needs, in the order the server needs them created.
#pragma once

#include <array>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include <lirvo/books/document.h>
#include <lirvo/modTallyIm.h>

namespace lirvo::books {

// The kinds of master, in the order they are created: a unit before the compound units and stock
// items that count in it, a godown before the documents that use it, a ledger group before its
// ledgers, a stock group before its items. Within a kind a parent comes before its children (see
// DependencyOrder).
enum class MasterKind { kUnit, kGodown, kLedgerGroup, kLedger, kStockGroup, kStockItem };

inline constexpr std::array<MasterKind, 6> kMasterKinds = {
    MasterKind::kUnit,   MasterKind::kGodown,     MasterKind::kLedgerGroup,
    MasterKind::kLedger, MasterKind::kStockGroup, MasterKind::kStockItem,
};

// The source table of a kind: "Units", "Godowns", "LedgerGroups", "Ledgers", "StockGroups",
// "StockItems".
std::string_view TableName(MasterKind kind);

// The command line's name of a kind: "units", "godowns", "ledger-groups", "ledgers",
// "stock-groups", "stock-items".
std::string_view KindName(MasterKind kind);

// The kind whose table (or command-line name) is `name`, blanks at the ends and the case of ASCII
// letters ignored; none when there is no such kind.
std::optional<MasterKind> KindOfTable(std::string_view name);
std::optional<MasterKind> KindOfKindName(std::string_view name);

// A master record as the builders take it. A ledger group is a GroupMaster.
using MasterRecord = std::variant<modTallyIm::UnitMaster, modTallyIm::GodownMaster,
                                  modTallyIm::GroupMaster, modTallyIm::LedgerMaster,
                                  modTallyIm::StockGroupMaster, modTallyIm::StockItemMaster>;

// A row of a source table: column name and value, as read.
using SourceRow = std::vector<std::pair<std::string, std::string>>;

// The master a row of the table of `kind` describes: each column fills the record's field of the
// same name (the case of letters ignored; values trimmed; a flag's true or false, as databases
// write them, as "Yes" or "No"). Throws modTally::Failure (kValue) naming
// the table and the column for a column the record does not have, for OldName (a source only
// creates masters), and for a row without a Name.
MasterRecord MasterFromRow(MasterKind kind, const SourceRow& row);

// Why `record` cannot be sent as it is, or nothing: its first field holding a control character
// that XML cannot carry, or bytes that are not UTF-8 text ("Name: is not UTF-8 text ..."), or a
// flag that is neither Yes nor No.
std::optional<std::string> TextProblem(const MasterRecord& record);

MasterKind KindOf(const MasterRecord& record);
const std::string& NameOf(const MasterRecord& record);

// The TALLYMESSAGE that creates `record`, as the master builders (modTallyIm) write it in their
// request: what a request of several masters holds one of. Throws modTally::Failure as they do.
std::string CreateMessage(const MasterRecord& record);

// A master by kind and name.
struct MasterRef {
  MasterKind kind;
  std::string name;
  friend bool operator==(const MasterRef&, const MasterRef&) = default;
};

// Whether the server holds the master in every company from the start: the 28 predefined groups,
// the ledgers "Cash" and "Profit & Loss A/c", the godown "Main Location", the stock group
// "Primary" (names as the server compares them). Such a master is never created.
bool IsPredefined(const MasterRef& master);

// The masters `record` names and needs first (its parent, a stock item's or compound unit's units),
// predefined ones left out.
std::vector<MasterRef> Needs(const MasterRecord& record);

// The masters `document` names (its party and ledgers, items, godowns and units), each once,
// predefined ones left out. `document` should pass Check.
std::vector<MasterRef> Needs(const Document& document);

// The order in which `records` can be created: the indexes of `records`, kinds in the order of
// kMasterKinds, and within a kind each master after those of its kind it needs (its parent, a
// compound unit's units); otherwise in the order given. A cycle of parents is broken where it is
// first met (the server then names what is missing). The records are pointed to: a source's
// masters may be thousands, of over a kilobyte each.
std::vector<std::size_t> DependencyOrder(std::span<const MasterRecord* const> records);

}  // namespace lirvo::books
