// lirvo: the command-line front end over the Lirvo libraries. One CLI::App with a subcommand per
// command; every command and program answers --help and --version, and refuses unknown options,
// missing values and single-value options given twice with exit status 2.
#include <iostream>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include <lirvo/memory.h>

#include "commands.h"

namespace lirvo::cli {
namespace {

constexpr const char* kExitStatuses =
    "Exit status: 0 done; 1 failure (the server could not be reached, a file could not be read,\n"
    "the work stopped; the reason is on stderr); 2 usage error; 3 the server rejected something\n"
    "(verify: the books do not match the table);\n"
    "130 interrupted.";

// --version on the command and on each of its subcommands, however deep.
void AddVersionFlags(CLI::App& app) {
  app.set_version_flag("--version", "lirvo " PROJECT_VERSION, "Print the version and exit");
  for (CLI::App* sub : app.get_subcommands([](CLI::App*) { return true; })) {
    AddVersionFlags(*sub);
  }
}

// The deepest subcommand that was recognised, and the command line up to it ("lirvo build ledger").
const CLI::App& Deepest(const CLI::App& app, std::string& path) {
  path = app.get_name();
  const CLI::App* at = &app;
  while (!at->get_subcommands().empty()) {
    at = at->get_subcommands().front();
    path += " " + at->get_name();
  }
  return *at;
}

// The usage error's text. Where a command was needed, the error names the word given (or that
// none was) and lists the commands.
std::string UsageText(const CLI::App& at, const CLI::ParseError& error) {
  const auto commands = at.get_subcommands([](const CLI::App*) { return true; });
  if (commands.empty() || !at.get_subcommands().empty()) {
    return error.what();
  }
  std::string names;
  for (const CLI::App* command : commands) {
    names += (names.empty() ? "" : ", ") + command->get_name();
  }
  const std::vector<std::string> rest = at.remaining();
  if (!rest.empty() && rest.front().rfind('-', 0) != 0) {
    return "unknown command \"" + rest.front() + "\"; it must be one of " + names;
  }
  if (error.get_name() == "RequiredError" && rest.empty()) {
    return "a command is needed: one of " + names;
  }
  return error.what();
}

}  // namespace
}  // namespace lirvo::cli

int main(int argc, char** argv) {
  using namespace lirvo;
  using namespace lirvo::cli;
  KeepFreedMemory();
  CLI::App app(
      "Talks to the accounting server at http://127.0.0.1:9000, or at $LIRVO_TALLY_URL when that "
      "is set.",
      "lirvo");
  app.footer(kExitStatuses);
  app.require_subcommand(1);
  int status = kExitOk;
  AddProbeCommand(app, status);
  AddCurrentCompanyCommand(app, status);
  AddCompaniesCommand(app, status);
  AddBuildCommand(app, status);
  AddSendCommand(app, status);
  AddTransferCommand(app, status);
  AddSyncCommand(app, status);
  AddVerifyCommand(app, status);
  AddSourcesCommand(app, status);
  AddVersionFlags(app);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    if (error.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success)) {
      return app.exit(error);  // --help or --version, on stdout
    }
    std::string path;
    const CLI::App& at = Deepest(app, path);
    std::cerr << path << ": " << UsageText(at, error) << "\n(see " << path << " --help)\n";
    return kExitUsage;
  } catch (const std::exception& error) {
    std::cerr << "lirvo: " << error.what() << '\n';
    return kExitFailure;
  }
  return status;
}
