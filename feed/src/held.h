// What the feeds share: how a kind of master is named and asked for, and which masters the
// company holds.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include <lirvo/books/document.h>
#include <lirvo/books/masters.h>
#include <lirvo/modTally.h>

#include "spellings.h"

namespace lirvo::feed {

// How a message names one master of a kind ("ledger group").
const char* Singular(books::MasterKind kind);

inline std::size_t IndexOf(books::MasterKind kind) {
  return static_cast<std::size_t>(kind);
}

// A name as the server compares names: blanks at the ends and the case of letters ignored.
std::string Key(std::string_view name);

using Names = std::array<std::unordered_set<std::string>, books::kMasterKinds.size()>;
// Of each kind, the names met, as rows spell them.
using Spelt = std::array<Spellings, books::kMasterKinds.size()>;

// How a summary line says that `trusted` of what is in the books were taken from the journal:
// "" when none were.
std::string OnTheJournalsWord(long trusted);

// The names (as Key gives them) of the masters of `kind` that `company` holds. Throws
// modTally::Failure naming what came back when the reply is not that company's list.
std::unordered_set<std::string> HeldNames(const modTally::Server& server,
                                          const std::string& company, books::MasterKind kind);

// A master of the books as their export gives it: each value by its element (PARENT, BASEUNITS,
// ...), as the reply carries it.
struct HeldMaster {
  std::vector<std::pair<std::string, std::string>> values;
};

// The masters of one kind the company holds, by name as Key gives it.
using Held = std::unordered_map<std::string, HeldMaster>;

// The masters of `kind` that `company` holds, with the values a verify compares: the same one
// request as HeldNames, fetching those fields besides the name. Throws as HeldNames does.
Held HeldMasters(const modTally::Server& server, const std::string& company,
                 books::MasterKind kind);

// Every field in which `held` differs from the source's `record`, named as the record names it
// ("Parent", "BaseUnits"), with the source's value and the books'. Compared: each field the
// record's builder sends (a unit's by its shape; the name is how the two were matched), values
// trimmed and the case of letters ignored as the server compares names, numbers by their value,
// a Parent of "Primary" as none. A field the source leaves empty is not compared (the server's
// default applies), nor one the books' reply does not carry.
std::vector<books::FieldDifference> Differences(const books::MasterRecord& record,
                                                const HeldMaster& held);

// `Parent "A" in the source, "B" in the books; ...`: the differences for a line of a report.
std::string Described(const std::vector<books::FieldDifference>& differences);

}  // namespace lirvo::feed
