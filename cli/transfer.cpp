// transfer: moves the sales in SampleData.mdb (or --db PATH) into the server, printing each
// status line as it happens and then the final message.
#include <iostream>

#include <lirvo/transfer.h>

#include "commands.h"

namespace lirvo::cli {

int Transfer(const Args& args) {
  std::filesystem::path database = transfer::DefaultDatabasePath();
  std::optional<std::string> company;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& option = args[i];
    if (option == "--db" || option == "--company") {
      if (i + 1 == args.size()) {
        return UsageError(option + " needs a value");
      }
      const std::string& value = args[++i];
      if (option == "--db") {
        database = value;
      } else {
        company = value;
      }
    } else {
      return UsageError("transfer does not know \"" + option + "\"");
    }
  }

  modTally::TallyUrl = modTally::DefaultAddress();
  if (!company) {
    const auto current = modTally::TryGetCurrentCompany();
    if (!current) {
      std::cerr << "lirvo: cannot ask the server for its current company: " << current.description
                << '\n';
      return kExitFailure;
    }
    company = *current.value;
  }

  try {
    const transfer::TransferResult result = transfer::DataToTally(
        *company,
        [](const std::string& message) { std::cout << message << "........." << std::endl; },
        database);
    std::cout << transfer::FinalMessage(result) << '\n';
    return result.rejected == 0 ? kExitOk : kExitRejected;
  } catch (const modTally::Failure& failure) {
    std::cout.flush();
    std::cerr << "lirvo: " << failure.description() << '\n';
    return kExitFailure;
  }
}

}  // namespace lirvo::cli
