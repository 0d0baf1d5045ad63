// The lirvo command's subcommands. Each takes the arguments after its name and returns the exit
// status: 0 done, 1 the work failed (message on stderr), 2 usage error, 3 the server rejected
// some of what was sent.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace CLI {
class App;
}

namespace lirvo::cli {

using Args = std::vector<std::string>;

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitRejected = 3;

struct Command {
  std::string_view name;
  std::string_view synopsis;
  int (*run)(const Args& args);
};

// Prints "lirvo: <message>" on stderr and returns kExitUsage.
int UsageError(const std::string& message);

int Probe(const Args& args);
int CurrentCompany(const Args& args);
int Companies(const Args& args);
int Build(const Args& args);
int Send(const Args& args);
int Transfer(const Args& args);
int Sync(const Args& args);

// Registers `sync` on `app`; its callback stores the exit status in `status`.
void AddSyncCommand(CLI::App& app, int& status);

}  // namespace lirvo::cli
