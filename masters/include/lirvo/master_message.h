// The message alone of each master builder's request: the TALLYMESSAGE holding the master
// element, byte for byte as the builder writes it between REQUESTDATA's tags, for requests that
// carry many masters under one envelope. Throws modTally::Failure as the builders do.
#pragma once

#include <string>

#include <lirvo/modTallyIm.h>

namespace modTallyIm {

std::string MasterMessage(const UnitMaster& unit, const std::string& action);
std::string MasterMessage(const LedgerMaster& ledger, const std::string& action);
std::string MasterMessage(const StockItemMaster& stockItem, const std::string& action);
std::string MasterMessage(const GodownMaster& godown, const std::string& action);
std::string MasterMessage(const GroupMaster& group, const std::string& action);
std::string MasterMessage(const StockGroupMaster& stockGroup, const std::string& action);

}  // namespace modTallyIm
