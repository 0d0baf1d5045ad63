// build KIND: prints the import request that a master builder makes of a record given as options.
#include <iostream>
#include <memory>
#include <span>

#include <CLI/CLI.hpp>

#include <lirvo/modTallyIm.h>

#include "commands.h"

namespace lirvo::cli {

namespace {

using namespace modTallyIm;

template <class Record>
using Builder = std::string (*)(const std::string&, const Record&, const std::string&);

// What one `build KIND` command line gives: the record's fields, the company and the action.
template <class Record>
struct Request {
  Record record;
  std::string company;
  std::string action = "Create";
};

// Registers `build KIND` with one option per field of Record ("--Name", "--Parent", ...).
template <class Record, Builder<Record> build>
void AddKind(CLI::App& parent, const char* kind, int& status) {
  CLI::App* command =
      parent.add_subcommand(kind, std::string("Print the import request for one ") + kind);
  auto request = std::make_shared<Request<Record>>();
  command->add_option("--company", request->company, "The company the request goes to")
      ->type_name("NAME");
  command->add_option("--action", request->action, "Create (the default), Alter or Delete")
      ->check(CLI::IsMember({"Create", "Alter", "Delete"}))
      ->type_name("ACTION");
  CLI::Option* oldName = nullptr;
  for (const Field<Record>& field : FieldsOf<Record>()) {
    const std::string name(field.name);
    CLI::Option* option =
        command->add_option("--" + name, request->record.*(field.member))->type_name("VALUE");
    if (name == "OldName") {
      option->description("The master's present name (needed with --action Alter)");
      oldName = option;
    }
  }
  command->callback([request, oldName, &status] {
    if (request->action == "Alter" && (oldName == nullptr || oldName->count() == 0)) {
      throw CLI::ValidationError("--action Alter", "needs --OldName, the master's present name");
    }
    std::cout << build(request->company, request->record, request->action) << '\n';
    status = kExitOk;
  });
}

}  // namespace

void AddBuildCommand(CLI::App& app, int& status) {
  CLI::App* build =
      app.add_subcommand("build", "Print the import request for one master, without sending it");
  build->require_subcommand(1);
  build->footer(
      "Each KIND takes the record's fields as options; lirvo build KIND --help lists them.");
  AddKind<UnitMaster, &BuildUnit>(*build, "unit", status);
  AddKind<LedgerMaster, &BuildLedger>(*build, "ledger", status);
  AddKind<StockItemMaster, &BuildStockItem>(*build, "stockitem", status);
  AddKind<GodownMaster, &BuildGodown>(*build, "godown", status);
  AddKind<GroupMaster, &BuildGroup>(*build, "group", status);
  AddKind<StockGroupMaster, &BuildStockGroup>(*build, "stockgroup", status);
}

}  // namespace lirvo::cli
