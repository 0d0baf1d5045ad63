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

// Registers `verify` on `app`; its callback stores the exit status in `status`.
void AddVerifyCommand(CLI::App& app, int& status);
int Verify(const Args& args);

// verify's options, and the run itself (also after `sync --verify`).
struct VerifyValues {
  std::string db;
  std::string company;
  std::string from;
  std::string to;
  std::string report;
};
int RunVerify(const VerifyValues& values);
// The status of `sync --verify`: the sync's when it stopped; otherwise verify's failure, or 3 when
// either found rows that are not in the books as sent, or 0.
int VerifyAfterSync(int sync_status, const VerifyValues& values);

}  // namespace lirvo::cli
