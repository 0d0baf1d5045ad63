// Masters in an import: the six kinds the stand-in keeps, and one master element applied to the
// store (created, altered, renamed or deleted) the way the accounting server applies it.
#pragma once

#include <cstdint>
#include <string_view>

#include <pugixml.hpp>

#include "store.h"

namespace lirvo::standin {

struct Kind {
  std::string_view element;  // the master element, also the kind in the store
  std::string_view label;    // as named in messages
  std::string_view plural;   // as named by ACCOUNTTYPE
};

// The six kinds, in the order List of Accounts gives them.
inline constexpr Kind kKinds[] = {{"UNIT", "Unit", "Units"},
                                  {"LEDGER", "Ledger", "Ledgers"},
                                  {"STOCKITEM", "Stock Item", "Stock Items"},
                                  {"GODOWN", "Godown", "Godowns"},
                                  {"GROUP", "Group", "Groups"},
                                  {"STOCKGROUP", "Stock Group", "Stock Groups"}};

// The kind whose master element is `element`; null for any other element.
const Kind* FindKind(std::string_view element);
const Kind& LedgerKind();
const Kind& StockItemKind();
const Kind& GodownKind();

enum class Outcome { kCreated, kAltered, kDeleted };

// What one item of an import did, and the id of the master or voucher concerned.
struct Applied {
  Outcome outcome = Outcome::kCreated;
  std::int64_t id = 0;
  bool voucher = false;
};

// Applies one master `element` of `kind` to `company` in `store`. Creating a master that exists
// alters it; altering one that does not exist creates it unless `strict`; a predefined master is
// never deleted. Throws Rejection with the
// LINEERROR when the master is refused; the store is then left for the caller's savepoint to undo.
Applied ApplyMaster(Store& store, bool strict, std::int64_t company, const Kind& kind,
                    const pugi::xml_node& element);

// Adds to `company` the masters the server holds in every company (its 28 groups, the ledgers
// "Cash" and "Profit & Loss A/c", the godown "Main Location"), marked predefined, unless a master
// of that kind and name is there already.
void AddPredefinedMasters(Store& store, std::int64_t company);

// The id of the master of `kind` named `name`; Rejection "<Kind> 'name' does not exist!" when
// there is none.
std::int64_t RequireMaster(Store& store, std::int64_t company, const Kind& kind,
                           std::string_view name);

}  // namespace lirvo::standin
