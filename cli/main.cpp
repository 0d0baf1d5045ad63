// lirvo: the command-line front end over the Lirvo libraries.
#include <array>
#include <iostream>

#include "commands.h"

namespace lirvo::cli {

namespace {

constexpr std::array kCommands = {
    Command{"probe", "probe               print the server's reply line", &Probe},
    Command{"current-company",
            "current-company     print the company that is current in the server", &CurrentCompany},
    Command{"companies", "companies           print the open companies, one per line", &Companies},
    Command{"build",
            "build KIND ...      print the import request for one master (lirvo build --help)",
            &Build},
    Command{
        "send",
        "send FILE           post a request file laid out as the transfer does; print the reply",
        &Send},
    Command{"transfer",
            "transfer [--db PATH] [--company NAME]\n"
            "                      move the sales in SampleData.mdb into the server (exit 3 when\n"
            "                      the server rejected some of it)",
            &Transfer},
    Command{"sync",
            "sync [--db PATH] [--company NAME] [--batch N] [--journal FILE] [--report FILE]\n"
            "     [--dry-run]      move the whole table into the server, resumably (lirvo sync\n"
            "                      --help)",
            &Sync},
    Command{"verify",
            "verify [--db PATH] [--company NAME] [--from YYYYMMDD --to YYYYMMDD] [--report FILE]\n"
            "                      compare the books with the table row by row (exit 3 when\n"
            "                      something does not match)",
            &Verify},
};

void PrintHelp(std::ostream& out) {
  out << "usage: lirvo COMMAND [OPTIONS]\n\n"
         "Talks to the accounting server at http://127.0.0.1:9000, or at $LIRVO_TALLY_URL when\n"
         "that is set.\n\ncommands:\n";
  for (const Command& command : kCommands) {
    out << "  " << command.synopsis << '\n';
  }
}

}  // namespace

int UsageError(const std::string& message) {
  std::cerr << "lirvo: " << message << "\n(see lirvo --help)\n";
  return kExitUsage;
}

}  // namespace lirvo::cli

int main(int argc, char** argv) {
  using namespace lirvo::cli;
  if (argc < 2) {
    PrintHelp(std::cerr);
    return kExitUsage;
  }
  const std::string name = argv[1];
  if (name == "--help" || name == "-h" || name == "help") {
    PrintHelp(std::cout);
    return kExitOk;
  }
  const Args args(argv + 2, argv + argc);
  for (const Command& command : kCommands) {
    if (command.name == name) {
      try {
        return command.run(args);
      } catch (const std::exception& error) {
        std::cerr << "lirvo: " << error.what() << '\n';
        return kExitFailure;
      }
    }
  }
  return UsageError("unknown command \"" + name + "\"");
}
