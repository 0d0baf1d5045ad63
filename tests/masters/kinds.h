// The six builders behind one shape, so a test can run the same check over every kind of master
// with a record given as field names and values.
#pragma once

#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include <lirvo/modTallyIm.h>

namespace lirvo::test {

// Field name -> value; every field not named is empty.
using Values = std::map<std::string, std::string>;

struct Kind {
  std::string cli_name;             // "stockitem"
  std::string element;              // "STOCKITEM"
  std::vector<std::string> fields;  // in record order
  std::function<std::string(const std::string& company, const Values& values,
                            const std::string& action)>
      build;
};

template <class Record>
Kind MakeKind(std::string cli_name, std::string element,
              std::string (*builder)(const std::string&, const Record&, const std::string&)) {
  Kind kind{std::move(cli_name), std::move(element), {}, {}};
  for (const auto& field : modTallyIm::FieldsOf<Record>()) {
    kind.fields.emplace_back(field.name);
  }
  kind.build = [builder](const std::string& company, const Values& values,
                         const std::string& action) {
    Record record;
    for (const auto& [name, value] : values) {
      bool found = false;
      for (const auto& field : modTallyIm::FieldsOf<Record>()) {
        if (field.name == name) {
          record.*field.member = value;
          found = true;
        }
      }
      if (!found) {
        throw std::logic_error("test asks for a field the record lacks: " + name);
      }
    }
    return builder(company, record, action);
  };
  return kind;
}

inline const std::vector<Kind>& Kinds() {
  static const std::vector<Kind> kinds = {
      MakeKind("unit", "UNIT", &modTallyIm::BuildUnit),
      MakeKind("ledger", "LEDGER", &modTallyIm::BuildLedger),
      MakeKind("stockitem", "STOCKITEM", &modTallyIm::BuildStockItem),
      MakeKind("godown", "GODOWN", &modTallyIm::BuildGodown),
      MakeKind("group", "GROUP", &modTallyIm::BuildGroup),
      MakeKind("stockgroup", "STOCKGROUP", &modTallyIm::BuildStockGroup),
  };
  return kinds;
}

}  // namespace lirvo::test
