// transfer: moves the sales in SampleData.mdb (or --db PATH) into the server, printing each
// status line as it happens and then the final message.
#include <iostream>
#include <memory>

#include <CLI/CLI.hpp>

#include <lirvo/transfer.h>

#include "commands.h"

namespace lirvo::cli {

namespace {

struct TransferOptions {
  std::filesystem::path database = transfer::DefaultDatabasePath();
  std::optional<std::string> company;
};

int Transfer(TransferOptions options) {
  try {
    const modTally::Server server = modTally::Server::FromEnvironment();
    if (!options.company) {
      const auto current = modTally::TryGetCurrentCompany();
      if (!current) {
        std::cerr << "lirvo: cannot ask the server for its current company: " << current.description
                  << '\n';
        return kExitFailure;
      }
      options.company = *current.value;
    }
    const transfer::TransferResult result = transfer::DataToTally(
        server, *options.company,
        [](const std::string& message) { std::cout << message << "........." << std::endl; },
        options.database);
    std::cout << transfer::FinalMessage(result) << std::endl;
    if (result.posted == 0 && result.rejected == 0) {
      // The final message reads as a success; say that it was an empty one.
      std::cerr << "lirvo: table SalesMst in " << options.database.string()
                << " has no rows: nothing was sent\n";
    }
    return result.rejected == 0 ? kExitOk : kExitRejected;
  } catch (const modTally::Failure& failure) {
    std::cout.flush();
    std::cerr << "lirvo: " << failure.description() << '\n';
    return kExitFailure;
  }
}

}  // namespace

void AddTransferCommand(CLI::App& app, int& status) {
  CLI::App* command = app.add_subcommand(
      "transfer",
      "Move the sales in SampleData.mdb into the server (exit 3 when the server rejected some of "
      "it)");
  auto options = std::make_shared<TransferOptions>();
  command
      ->add_option("--db", options->database,
                   "The Access database to read (default: SampleData.mdb beside lirvo)")
      ->type_name("PATH");
  command
      ->add_option("--company", options->company,
                   "The company to send to (default: the server's current company)")
      ->type_name("NAME");
  command->callback([options, &status] { status = Transfer(*options); });
}

}  // namespace lirvo::cli
