// Starts tally-standin as a child process on an ephemeral loopback port for end-to-end tests, and
// stops it when destroyed; the child is killed as well when the test process dies (or the thread
// that started it ends: start it from the test's own thread).
#pragma once

#include <string>
#include <vector>

namespace lirvo::test {

// The company a new tally-standin store holds, open from the start.
inline constexpr const char* kStandinCompany = "Demo Trading Co";

class StandinProcess {
 public:
  // Runs `executable --port 0 <arguments>` (without the `--port 0` when `arguments` name a port,
  // as a restart on the same port does) and waits (with a deadline) for its
  // "listening on http://127.0.0.1:PORT" line. Throws std::runtime_error when it does not start.
  StandinProcess(const std::string& executable, const std::vector<std::string>& arguments = {});
  ~StandinProcess();
  StandinProcess(const StandinProcess&) = delete;
  StandinProcess& operator=(const StandinProcess&) = delete;

  std::string url() const { return url_; }
  int port() const { return port_; }

  // Sends `signal` and waits for the process to end (killing it after 20 s); returns its exit
  // status (or 128 + signal).
  int Stop(int signal);

 private:
  int pid_ = -1;
  int port_ = 0;
  std::string url_;
};

}  // namespace lirvo::test
