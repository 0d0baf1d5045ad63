// The sync's masters: reading what the company holds, building what it lacks.
#include "sync_masters.h"

#include <lirvo/books/judge.h>
#include <lirvo/books/masters.h>
#include <lirvo/export_reply.h>
#include <lirvo/master_message.h>
#include <lirvo/modTallyIm.h>
#include <lirvo/text.h>

namespace lirvo::sync::detail {

using modTally::Failure;
namespace FailureNumber = modTally::FailureNumber;

std::unordered_set<std::string> ReadMasters(const modTally::Server& server,
                                            const std::string& company, const char* type,
                                            const char* element,
                                            const modTally::ExchangeLimits& limits) {
  const std::string what = std::string("cannot read the ") + type + " of \"" + company +
                           "\" from " + modTally::ShownUrl(server.url);
  modTally::Reply reply;
  try {
    reply = modTally::Exchange(server, modTally::ListOfAccountsRequest(type, company), limits);
  } catch (const Failure& failure) {
    throw Failure(failure, what + ": " + failure.description());
  }
  // Only a list of this company's masters is read: anything else (a web page, a refusal, an
  // empty envelope) would read as "the company holds none" and have the sync create, and so
  // alter, masters that exist.
  pugi::xml_document document;
  const pugi::xml_node root = modTally::ReadExportReply(document, reply, {what, company, false});
  std::unordered_set<std::string> names;
  for (const pugi::xpath_node& found : root.select_nodes((std::string(".//") + element).c_str())) {
    const pugi::xml_node node = found.node();
    std::string name = node.attribute("NAME").value();
    if (name.empty()) {
      name = modTally::NodeText(node.child("NAME"));
    }
    if (name.empty()) {
      name = modTally::NodeText(node.child("NAME.LIST").child("NAME"));
    }
    if (!name.empty()) {
      names.insert(text::FoldCase(name));
    }
  }
  return names;
}

HeldMasters ReadHeldMasters(const modTally::Server& server, const std::string& company,
                            const modTally::ExchangeLimits& limits) {
  HeldMasters held;
  held.units = ReadMasters(server, company, "Units", "UNIT", limits);
  held.ledgers = ReadMasters(server, company, "Ledgers", "LEDGER", limits);
  held.items = ReadMasters(server, company, "Stock Items", "STOCKITEM", limits);
  return held;
}

std::string MasterMessage(MasterKind kind, const std::string& name, const std::string& detail) {
  switch (kind) {
    case MasterKind::kUnit: {
      modTallyIm::UnitMaster unit;
      unit.Name = name;
      unit.IsSimpleUnit = "Yes";
      unit.OriginalName = name;
      unit.DecimalPlaces = "2";
      return modTallyIm::MasterMessage(unit, "Create");
    }
    case MasterKind::kLedger: {
      modTallyIm::LedgerMaster ledger;
      ledger.Name = name;
      ledger.Parent = detail;
      return modTallyIm::MasterMessage(ledger, "Create");
    }
    case MasterKind::kItem: {
      modTallyIm::StockItemMaster item;
      item.Name = name;
      item.BaseUnits = detail;
      item.CostingMethod = "Avg. Cost";
      item.ValuationMethod = "Avg. Price";
      item.Denominator = "1";
      return modTallyIm::MasterMessage(item, "Create");
    }
  }
  return {};
}

}  // namespace lirvo::sync::detail

namespace lirvo::sync {

std::string CurrentCompany(const modTally::Server& server) {
  // List of Accounts names the current company whatever the type asked; units make a short reply.
  return modTally::CurrentCompanyOf(
      modTally::Exchange(server, modTally::ListOfAccountsRequest("Units"), server.Query()),
      server.url);
}

}  // namespace lirvo::sync
