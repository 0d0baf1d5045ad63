#include "standin_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <stdexcept>

namespace lirvo::test {

StandinProcess::StandinProcess(const std::string& executable,
                               const std::vector<std::string>& arguments) {
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe: " + std::string(std::strerror(errno)));
  }
  std::vector<std::string> argv_strings{executable, "--port", "0"};
  argv_strings.insert(argv_strings.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& s : argv_strings)
    argv.push_back(s.data());
  argv.push_back(nullptr);

  pid_ = fork();
  if (pid_ < 0) {
    throw std::runtime_error("fork: " + std::string(std::strerror(errno)));
  }
  if (pid_ == 0) {
    dup2(out[1], STDOUT_FILENO);
    execv(executable.c_str(), argv.data());
    _exit(127);
  }
  close(out[1]);

  // Read the first line, with a deadline.
  std::string line;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (line.find('\n') == std::string::npos) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd waiting{out[0], POLLIN, 0};
    if (left.count() <= 0 || poll(&waiting, 1, static_cast<int>(left.count())) <= 0)
      break;
    char buffer[256];
    const ssize_t got = read(out[0], buffer, sizeof buffer);
    if (got <= 0)
      break;
    line.append(buffer, static_cast<size_t>(got));
  }
  close(out[0]);
  const std::string marker = "listening on ";
  const size_t at = line.find(marker);
  if (at == std::string::npos) {
    Stop(SIGKILL);
    throw std::runtime_error("tally-standin did not start: \"" + line + "\"");
  }
  url_ = line.substr(at + marker.size(), line.find('\n', at) - at - marker.size());
  port_ = std::stoi(url_.substr(url_.rfind(':') + 1));
}

StandinProcess::~StandinProcess() {
  if (pid_ > 0)
    Stop(SIGTERM);
}

int StandinProcess::Stop(int signal) {
  if (pid_ <= 0)
    return -1;
  kill(pid_, signal);
  int status = 0;
  // A server that does not stop in time is killed, so a hung server fails the test instead of
  // hanging it.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  pid_t ended = 0;
  while ((ended = waitpid(pid_, &status, WNOHANG)) == 0 &&
         std::chrono::steady_clock::now() < deadline) {
    pollfd none{-1, 0, 0};
    poll(&none, 0, 10);
  }
  if (ended == 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, &status, 0);
  }
  pid_ = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace lirvo::test
