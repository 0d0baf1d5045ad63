#include "held.h"

#include <lirvo/books/readback.h>
#include <lirvo/export_reply.h>
#include <lirvo/text.h>

namespace lirvo::feed {

namespace {

using books::MasterKind;

// The collection type the server exports a kind as, and the element each master comes in.
struct Collection {
  const char* type;
  const char* element;
};

Collection CollectionOf(MasterKind kind) {
  switch (kind) {
    case MasterKind::kUnit:
      return {"Unit", "UNIT"};
    case MasterKind::kGodown:
      return {"Godown", "GODOWN"};
    case MasterKind::kLedgerGroup:
      return {"Group", "GROUP"};
    case MasterKind::kLedger:
      return {"Ledger", "LEDGER"};
    case MasterKind::kStockGroup:
      return {"Stock Group", "STOCKGROUP"};
    case MasterKind::kStockItem:
      return {"Stock Item", "STOCKITEM"};
  }
  return {"Ledger", "LEDGER"};
}

}  // namespace

const char* Singular(MasterKind kind) {
  constexpr std::array<const char*, books::kMasterKinds.size()> kNames = {
      "unit", "godown", "ledger group", "ledger", "stock group", "stock item"};
  return kNames[IndexOf(kind)];
}

std::string Key(std::string_view name) {
  return text::FoldCase(text::Trim(name));
}

std::string OnTheJournalsWord(long trusted) {
  return trusted == 0 ? std::string()
                      : " (" + std::to_string(trusted) +
                            " of them on the journal's word: the books were not read)";
}

std::unordered_set<std::string> HeldNames(const modTally::Server& server,
                                          const std::string& company, MasterKind kind) {
  const Collection collection = CollectionOf(kind);
  const std::string what = std::string("cannot read the ") + collection.type + " masters of \"" +
                           company + "\" from " + modTally::ShownUrl(server.url);
  modTally::Reply reply;
  try {
    reply = modTally::Exchange(server, books::CollectionRequest(company, collection.type, "Name"),
                               server.Query());
  } catch (const modTally::Failure& failure) {
    throw modTally::Failure(failure, what + ": " + failure.description());
  }
  pugi::xml_document document;
  const pugi::xml_node root = modTally::ReadExportReply(document, reply, {what, company});
  std::unordered_set<std::string> names;
  for (const pugi::xml_node master :
       root.child("BODY").child("DATA").child("COLLECTION").children(collection.element)) {
    const pugi::xml_attribute named = master.attribute("NAME");
    names.insert(Key(named ? named.value() : modTally::NodeText(master.child("NAME"))));
  }
  return names;
}

}  // namespace lirvo::feed
