// build KIND: prints the import request that a master builder makes of a record given as options.
#include <algorithm>
#include <array>
#include <iostream>
#include <span>

#include <lirvo/modTallyIm.h>

#include "commands.h"

namespace lirvo::cli {

namespace {

using namespace modTallyIm;

template <class Record>
using Builder = std::string (*)(const std::string&, const Record&, const std::string&);

template <class Record>
void PrintFields(std::ostream& out, std::string_view kind, std::span<const Field<Record>> fields) {
  out << "usage: lirvo build " << kind
      << " [--company NAME] [--action Create|Alter|Delete] [--FIELD VALUE]...\n\nfields:";
  for (const Field<Record>& field : fields) {
    out << " " << field.name;
  }
  out << '\n';
}

// Reads "--option value" or "--option=value" pairs into the record, then builds and prints.
template <class Record, Builder<Record> build>
int BuildKind(std::string_view kind, const Args& args) {
  const std::span<const Field<Record>> fields = FieldsOf<Record>();
  Record record;
  std::string company;
  std::string action = "Create";
  std::vector<std::string> seen;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help" || arg == "-h") {
      PrintFields(std::cout, kind, fields);
      return kExitOk;
    }
    if (arg.size() <= 2 || arg.compare(0, 2, "--") != 0) {
      return UsageError("build " + std::string(kind) +
                        ": expected an option \"--NAME VALUE\", got \"" + arg + "\"");
    }
    const std::size_t equals = arg.find('=');
    const std::string option = arg.substr(2, equals == std::string::npos ? equals : equals - 2);
    std::string value;
    if (equals != std::string::npos) {
      value = arg.substr(equals + 1);
    } else if (i + 1 < args.size()) {
      value = args[++i];
    } else {
      return UsageError("build " + std::string(kind) + ": option \"--" + option +
                        "\" needs a value");
    }
    if (std::find(seen.begin(), seen.end(), option) != seen.end()) {
      return UsageError("build " + std::string(kind) + ": option \"--" + option +
                        "\" is given twice");
    }
    seen.push_back(option);

    if (option == "company") {
      company = std::move(value);
      continue;
    }
    if (option == "action") {
      action = std::move(value);
      continue;
    }
    const auto field = std::find_if(fields.begin(), fields.end(),
                                    [&](const Field<Record>& f) { return f.name == option; });
    if (field == fields.end()) {
      return UsageError("build " + std::string(kind) + ": unknown field \"--" + option +
                        "\" (see lirvo build " + std::string(kind) + " --help for its fields)");
    }
    record.*(field->member) = std::move(value);
  }
  std::cout << build(company, record, action) << '\n';
  return kExitOk;
}

struct Kind {
  std::string_view name;
  int (*run)(std::string_view kind, const Args& args);
};

constexpr std::array kKinds = {
    Kind{"unit", &BuildKind<UnitMaster, &BuildUnit>},
    Kind{"ledger", &BuildKind<LedgerMaster, &BuildLedger>},
    Kind{"stockitem", &BuildKind<StockItemMaster, &BuildStockItem>},
    Kind{"godown", &BuildKind<GodownMaster, &BuildGodown>},
    Kind{"group", &BuildKind<GroupMaster, &BuildGroup>},
    Kind{"stockgroup", &BuildKind<StockGroupMaster, &BuildStockGroup>},
};

std::string KindList() {
  std::string list;
  for (const Kind& kind : kKinds) {
    list += (list.empty() ? "" : ", ") + std::string(kind.name);
  }
  return list;
}

}  // namespace

int Build(const Args& args) {
  if (args.empty()) {
    return UsageError("build needs a kind of master: one of " + KindList());
  }
  const std::string& name = args.front();
  if (name == "--help" || name == "-h") {
    std::cout << "usage: lirvo build KIND [--company NAME] [--action ACTION] [--FIELD VALUE]...\n"
                 "kinds: "
              << KindList() << "\n(lirvo build KIND --help lists the fields of KIND)\n";
    return kExitOk;
  }
  for (const Kind& kind : kKinds) {
    if (kind.name == name) {
      return kind.run(kind.name, Args(args.begin() + 1, args.end()));
    }
  }
  return UsageError("build: unknown kind of master \"" + name + "\"; it must be one of " +
                    KindList());
}

}  // namespace lirvo::cli
