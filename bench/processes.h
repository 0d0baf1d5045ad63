// Child processes for the benchmarks that measure whole programs: the stand-in server, curl, the
// lirvo command and the load tool. Every child is waited for with a deadline and killed when it
// overruns, so a hung child fails the benchmark instead of hanging it.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

namespace lirvo::bench {

// How a finished child ended.
struct Finished {
  int exit_code = -1;       // -1 when it was ended by a signal
  int signal = 0;           // the signal that ended it, or 0
  double wall_seconds = 0;  // from spawn to exit
  std::string output;       // what it wrote to standard output, when captured
  bool ok() const { return exit_code == 0; }
};

struct SpawnOptions {
  std::vector<std::pair<std::string, std::string>> environment;  // added to (or replacing) ours
  bool capture_output = false;  // otherwise standard output goes to /dev/null
  bool quiet_errors = false;    // standard error to /dev/null too
  std::chrono::seconds deadline{120};
};

// Runs `argv` (argv[0] is the executable's path) to completion. Throws std::runtime_error when it
// cannot be started; a child that overruns the deadline is killed and reported with its signal.
Finished Run(const std::vector<std::string>& argv, const SpawnOptions& options = {});

// The wall time of `mdb-export DATABASE TABLE`, the median of three runs: it takes about a fifth
// of a second, and one run's time moved between 0.13 s and 0.25 s from one run to the next on a
// shared machine, which decided a ratio to it more than what it was compared with. Throws
// std::runtime_error when it fails.
double MdbExportSeconds(const std::string& database, const std::string& table);

// tally-standin on an ephemeral loopback port with an in-memory store, stopped when destroyed.
class Standin {
 public:
  // Starts the server and waits (with a deadline) for its "listening on" line. Throws
  // std::runtime_error when it does not come up.
  Standin();
  ~Standin();
  Standin(const Standin&) = delete;
  Standin& operator=(const Standin&) = delete;

  const std::string& url() const { return url_; }

  // Stops the server (SIGTERM, SIGKILL after a deadline) and waits for it. Safe to call twice.
  void Stop();

 private:
  pid_t pid_ = -1;
  std::string url_;
};

}  // namespace lirvo::bench
