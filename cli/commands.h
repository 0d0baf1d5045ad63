// The lirvo command's subcommands. Each Add...Command registers its subcommand (options, help,
// callback) on the one CLI::App of the command; the callback stores the exit status in `status`.
// Exit statuses: 0 done, 1 failure (the server could not be reached, a file could not be read,
// the work stopped; the reason on stderr), 2 usage error, 3 the server (or a local check) rejected
// something, 130 interrupted.
#pragma once

namespace CLI {
class App;
}

namespace CLI {
class App;
}

namespace lirvo::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitRejected = 3;
inline constexpr int kExitInterrupted = 130;

void AddProbeCommand(CLI::App& app, int& status);
void AddCurrentCompanyCommand(CLI::App& app, int& status);
void AddCompaniesCommand(CLI::App& app, int& status);
void AddBuildCommand(CLI::App& app, int& status);
void AddSendCommand(CLI::App& app, int& status);
void AddTransferCommand(CLI::App& app, int& status);
void AddSyncCommand(CLI::App& app, int& status);

}  // namespace lirvo::cli
