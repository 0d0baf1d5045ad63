// The sync's masters: what the company holds (List of Accounts) and what the vouchers need, and
// the TALLYMESSAGE that creates a missing one.
#pragma once

#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include <lirvo/modTally.h>
#include <lirvo/text.h>

namespace lirvo::transfer::detail {

struct Need {
  std::string name;
  std::string detail;  // a ledger's parent group, a stock item's unit
};

// The masters of one kind the vouchers need, in the order first met, keyed as the server compares
// names.
class Needs {
 public:
  void Note(const std::string& name, const std::string& detail) {
    key_.assign(name);
    for (char& c : key_) {
      c = text::LowerAscii(c);
    }
    if (seen_.find(key_) == seen_.end()) {
      seen_.emplace(key_, needs_.size());
      needs_.push_back({name, detail});
    }
  }
  const std::vector<Need>& all() const { return needs_; }

 private:
  std::unordered_map<std::string, std::size_t> seen_;
  std::vector<Need> needs_;
  std::string key_;  // reused, so that noting a name met before allocates nothing
};

// The names (folded) of the masters of `type` ("Units", element UNIT) that `company` holds. Throws
// Failure, naming what came back, when the reply is not a list of that company's masters.
std::unordered_set<std::string> ReadMasters(const std::string& url, const std::string& company,
                                            const char* type, const char* element,
                                            const modTally::ExchangeLimits& limits);

enum class MasterKind { kUnit, kLedger, kItem };

// The TALLYMESSAGE that creates `need` as a master of `kind` in `company`.
std::string MasterMessage(MasterKind kind, const Need& need, const std::string& company);

}  // namespace lirvo::transfer::detail
