#include "held.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <optional>
#include <type_traits>
#include <variant>

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

namespace {

// Reads the masters of `kind` that `company` holds, fetching `fetch`, and gives each master
// element to `each`. Throws as HeldNames does.
template <class Each>
void ReadHeld(const modTally::Server& server, const std::string& company, MasterKind kind,
              const std::string& fetch, Each each) {
  const Collection collection = CollectionOf(kind);
  const std::string what = std::string("cannot read the ") + collection.type + " masters of \"" +
                           company + "\" from " + modTally::ShownUrl(server.url);
  modTally::Reply reply;
  try {
    reply = modTally::Exchange(server, books::CollectionRequest(company, collection.type, fetch),
                               server.Query());
  } catch (const modTally::Failure& failure) {
    throw modTally::Failure(failure, what + ": " + failure.description());
  }
  pugi::xml_document document;
  const pugi::xml_node root = modTally::ReadExportReply(document, reply, {what, company});
  for (const pugi::xml_node master :
       root.child("BODY").child("DATA").child("COLLECTION").children(collection.element)) {
    const pugi::xml_attribute named = master.attribute("NAME");
    each(Key(named ? named.value() : modTally::NodeText(master.child("NAME"))), master);
  }
}

// The fields of a record that its builder sends and a verify compares: all but the names, and of
// a unit those of its shape (the builder sends a compound unit's units and conversion only when
// IsSimpleUnit is not exactly "Yes", a simple unit's symbol and decimals only when it is).
template <class Record>
bool Compared(const Record& record, std::string_view field) {
  if (field == "Name" || field == "OldName") {
    return false;
  }
  if constexpr (std::is_same_v<Record, modTallyIm::UnitMaster>) {
    const bool compound =
        field == "BaseUnits" || field == "AdditionalUnits" || field == "Conversion";
    const bool simple = field == "OriginalName" || field == "DecimalPlaces";
    return record.IsSimpleUnit == "Yes" ? !compound : !simple;
  }
  return true;
}

// The element a field is sent and exported in: its name in capitals ("BaseUnits": BASEUNITS), as
// the builders write every field but the name. That the server exports a fetched field in an
// element of that name is unconfirmed beyond PARENT and BASEUNITS.
std::string ElementOf(std::string_view field) {
  std::string element(field);
  for (char& c : element) {
    c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  }
  return element;
}

// The FETCH of a kind: its name and every field of its record but OldName, by the record's names,
// which are the server's element names in another case (Name, Parent and BaseUnits are fetched so
// by the export tools; unconfirmed for the others, and whether a field the server does not know
// is left out of the reply or refused).
template <class Record>
std::string FetchOf() {
  std::string fetch = "Name";
  for (const modTallyIm::Field<Record>& field : modTallyIm::FieldsOf<Record>()) {
    if (field.name != "Name" && field.name != "OldName") {
      fetch.append(", ").append(field.name);
    }
  }
  return fetch;
}

std::string FetchOf(MasterKind kind) {
  switch (kind) {
    case MasterKind::kUnit:
      return FetchOf<modTallyIm::UnitMaster>();
    case MasterKind::kGodown:
      return FetchOf<modTallyIm::GodownMaster>();
    case MasterKind::kLedgerGroup:
      return FetchOf<modTallyIm::GroupMaster>();
    case MasterKind::kLedger:
      return FetchOf<modTallyIm::LedgerMaster>();
    case MasterKind::kStockGroup:
      return FetchOf<modTallyIm::StockGroupMaster>();
    case MasterKind::kStockItem:
      return FetchOf<modTallyIm::StockItemMaster>();
  }
  return "Name";
}

// A value as it is compared: without the control characters the server writes before some values
// ("&#4; Primary") and the blanks around it (numbers come with a leading one).
std::string Plain(std::string_view value) {
  std::string plain;
  for (const char c : value) {
    if (static_cast<unsigned char>(c) >= ' ') {
      plain += c;
    }
  }
  return std::string(text::Trim(plain));
}

std::optional<double> Number(std::string_view value) {
  double number = 0;
  const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), number);
  if (error != std::errc() || end != value.data() + value.size()) {
    return std::nullopt;
  }
  return number;
}

// Whether the source's and the books' values of `field` are the same: as names are compared
// (a Parent of "Primary" being none, where a primary group or stock group sits), or as numbers
// ("12" and "12.00": whether the server writes a number back as it was sent is unconfirmed).
bool Same(std::string_view field, std::string_view source, std::string_view books) {
  std::string a = Key(source);
  std::string b = Key(books);
  if (field == "Parent") {
    a = a == "primary" ? "" : a;
    b = b == "primary" ? "" : b;
  }
  if (a == b) {
    return true;
  }
  const std::optional<double> x = Number(a);
  const std::optional<double> y = Number(b);
  return x && y && std::fabs(*x - *y) <= 1e-9 * std::max(1.0, std::fabs(*x));
}

template <class Record>
std::vector<books::FieldDifference> DifferencesOf(const Record& record, const HeldMaster& held) {
  std::vector<books::FieldDifference> differences;
  for (const modTallyIm::Field<Record>& field : modTallyIm::FieldsOf<Record>()) {
    const std::string& source = record.*(field.member);
    if (source.empty() || !Compared(record, field.name)) {
      continue;
    }
    const std::string element = ElementOf(field.name);
    for (const auto& [held_element, value] : held.values) {
      if (held_element == element) {
        if (!Same(field.name, source, value)) {
          differences.push_back({std::string(field.name), source, value});
        }
        break;
      }
    }
  }
  return differences;
}

}  // namespace

std::unordered_set<std::string> HeldNames(const modTally::Server& server,
                                          const std::string& company, MasterKind kind) {
  std::unordered_set<std::string> names;
  ReadHeld(server, company, kind, "Name",
           [&names](std::string key, const pugi::xml_node&) { names.insert(std::move(key)); });
  return names;
}

Held HeldMasters(const modTally::Server& server, const std::string& company, MasterKind kind) {
  Held held;
  ReadHeld(server, company, kind, FetchOf(kind),
           [&held](std::string key, const pugi::xml_node& master) {
             const auto [found, fresh] = held.try_emplace(std::move(key));
             if (!fresh) {
               return;  // the first of a name, as a repeated name is one master to the server
             }
             HeldMaster& values = found->second;
             for (const pugi::xml_node leaf : master.children()) {
               if (leaf.type() == pugi::node_element && !leaf.first_child().first_child()) {
                 values.values.emplace_back(leaf.name(), Plain(modTally::NodeText(leaf)));
               }
             }
           });
  return held;
}

std::vector<books::FieldDifference> Differences(const books::MasterRecord& record,
                                                const HeldMaster& held) {
  return std::visit([&held](const auto& r) { return DifferencesOf(r, held); }, record);
}

std::string Described(const std::vector<books::FieldDifference>& differences) {
  std::string text;
  for (const books::FieldDifference& d : differences) {
    text += (text.empty() ? "" : "; ") + d.field + " \"" + d.source + "\" in the source, \"" +
            d.books + "\" in the books";
  }
  return text;
}

}  // namespace lirvo::feed
