// The lirvo command's subcommands. Each Add...Command registers its subcommand (options, help,
// callback) on the one CLI::App of the command; the callback stores the exit status in `status`.
// Exit statuses: 0 done, 1 failure (the server could not be reached, a file could not be read,
// the work stopped; the reason on stderr), 2 usage error, 3 the server (or a local check) rejected
// something, 130 interrupted.
#pragma once

#include <string>
#include <vector>

#include <lirvo/exit_status.h>

namespace CLI {
class App;
}

namespace lirvo::cli {

void AddProbeCommand(CLI::App& app, int& status);
void AddCurrentCompanyCommand(CLI::App& app, int& status);
void AddCompaniesCommand(CLI::App& app, int& status);
void AddBuildCommand(CLI::App& app, int& status);
void AddSendCommand(CLI::App& app, int& status);
void AddTransferCommand(CLI::App& app, int& status);
void AddSyncCommand(CLI::App& app, int& status);
void AddSourcesCommand(CLI::App& app, int& status);

// Registers `verify` on `app`; its callback stores the exit status in `status`.
void AddVerifyCommand(CLI::App& app, int& status);

// verify's options, and the run itself (also after `sync --verify`).
struct VerifyValues {
  std::string db;
  std::string source;  // instead of db: a source URI (and its login's user)
  std::string user;
  std::string company;
  std::string from;
  std::string to;
  std::string report;
  std::vector<std::string> kinds;  // with source: --kinds, as sync takes them
};
int RunVerify(const VerifyValues& values);
// The status of `sync --verify`: the sync's when it stopped; otherwise verify's failure, or 3 when
// either found rows that are not in the books as sent, or 0.
int VerifyAfterSync(int sync_status, const VerifyValues& values);

}  // namespace lirvo::cli
