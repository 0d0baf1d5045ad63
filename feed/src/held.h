// What the feeds share: how a kind of master is named and asked for, and which masters the
// company holds.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_set>

#include <lirvo/books/masters.h>
#include <lirvo/modTally.h>

namespace lirvo::feed {

// How a message names one master of a kind ("ledger group").
const char* Singular(books::MasterKind kind);

inline std::size_t IndexOf(books::MasterKind kind) {
  return static_cast<std::size_t>(kind);
}

// A name as the server compares names: blanks at the ends and the case of letters ignored.
std::string Key(std::string_view name);

using Names = std::array<std::unordered_set<std::string>, books::kMasterKinds.size()>;

// How a summary line says that `trusted` of what is in the books were taken from the journal:
// "" when none were.
std::string OnTheJournalsWord(long trusted);

// The names (as Key gives them) of the masters of `kind` that `company` holds. Throws
// modTally::Failure naming what came back when the reply is not that company's list.
std::unordered_set<std::string> HeldNames(const modTally::Server& server,
                                          const std::string& company, books::MasterKind kind);

}  // namespace lirvo::feed
