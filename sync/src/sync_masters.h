// The sync's masters: what the company holds (List of Accounts), and the TALLYMESSAGE that
// creates a missing one.
#pragma once

#include <optional>
#include <string>
#include <unordered_set>

#include <lirvo/modTally.h>

namespace lirvo::sync::detail {

// The names (folded) of the masters of `type` ("Units", element UNIT) that `company` holds. Throws
// Failure, naming what came back, when the reply is not a list of that company's masters.
std::unordered_set<std::string> ReadMasters(const modTally::Server& server,
                                            const std::string& company, const char* type,
                                            const char* element,
                                            const modTally::ExchangeLimits& limits);

// What the company holds: the names (folded) of its units, ledgers and stock items.
struct HeldMasters {
  std::unordered_set<std::string> units, ledgers, items;
};
HeldMasters ReadHeldMasters(const modTally::Server& server, const std::string& company,
                            const modTally::ExchangeLimits& limits);

enum class MasterKind { kUnit, kLedger, kItem };

// The TALLYMESSAGE that creates the master `name` of `kind`; `detail` is a ledger's parent
// group, a stock item's unit.
std::string MasterMessage(MasterKind kind, const std::string& name, const std::string& detail);

}  // namespace lirvo::sync::detail
