// probe, current-company, companies: the three queries, with failures on stderr.
#include <iostream>

#include <CLI/CLI.hpp>

#include <lirvo/modTally.h>

#include "commands.h"

namespace lirvo::cli {

namespace {

// Prints the query's answer with `print`, or its failure on stderr; gives the exit status.
template <class T, class Print>
int Report(const modTally::QueryResult<T>& result, Print print) {
  if (!result) {
    std::cerr << "lirvo: " << result.description << '\n';
    return kExitFailure;
  }
  print(*result.value);
  return kExitOk;
}

void PrintLine(const std::string& line) {
  std::cout << line << '\n';
}

}  // namespace

void AddProbeCommand(CLI::App& app, int& status) {
  app.add_subcommand("probe", "Print the server's reply line")->callback([&status] {
    status = Report(modTally::TryGetTallyVersion(), PrintLine);
  });
}

void AddCurrentCompanyCommand(CLI::App& app, int& status) {
  app.add_subcommand("current-company", "Print the company that is current in the server")
      ->callback([&status] { status = Report(modTally::TryGetCurrentCompany(), PrintLine); });
}

void AddCompaniesCommand(CLI::App& app, int& status) {
  app.add_subcommand("companies", "Print the open companies, one per line")->callback([&status] {
    status = Report(modTally::TryGetCompanyList(), [](const std::vector<std::string>& names) {
      for (const std::string& name : names) {
        PrintLine(name);
      }
    });
  });
}

}  // namespace lirvo::cli
