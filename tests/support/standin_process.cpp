#include "standin_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <stdexcept>

namespace lirvo::test {

namespace {

using Clock = std::chrono::steady_clock;

int MillisecondsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return std::max(0, static_cast<int>(left.count()));
}

}  // namespace

StandinProcess::StandinProcess(const std::string& executable,
                               const std::vector<std::string>& arguments) {
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe: " + std::string(std::strerror(errno)));
  }
  std::vector<std::string> words{executable};
  if (std::find(arguments.begin(), arguments.end(), "--port") == arguments.end()) {
    words.insert(words.end(), {"--port", "0"});
  }
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& word : words) {
    argv.push_back(word.data());
  }
  argv.push_back(nullptr);
  const pid_t parent = getpid();
  pid_ = fork();
  if (pid_ == 0) {
    // The server dies with the test process, also when the test crashes or is killed; the check
    // after it covers a parent that died before the request took effect.
    if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent) {
      _exit(127);
    }
    dup2(out[1], STDOUT_FILENO);
    execv(executable.c_str(), argv.data());
    _exit(127);
  }
  close(out[1]);
  if (pid_ < 0) {
    close(out[0]);
    throw std::runtime_error("cannot start " + executable + ": " + std::strerror(errno));
  }

  // The first line, read with a deadline so that a server that never starts fails the test.
  std::string line;
  const auto deadline = Clock::now() + std::chrono::seconds(20);
  pollfd waiting{out[0], POLLIN, 0};
  char c = 0;
  while (pid_ > 0 && line.find('\n') == std::string::npos &&
         poll(&waiting, 1, MillisecondsLeft(deadline)) > 0 && read(out[0], &c, 1) == 1) {
    line += c;
  }
  close(out[0]);
  const std::string marker = "listening on ";
  const std::size_t at = line.find(marker);
  if (at == std::string::npos) {
    Stop(SIGKILL);
    throw std::runtime_error(executable + " did not start: \"" + line + "\"");
  }
  url_ = line.substr(at + marker.size(), line.find('\n', at) - at - marker.size());
  port_ = std::stoi(url_.substr(url_.rfind(':') + 1));
}

StandinProcess::~StandinProcess() {
  Stop(SIGTERM);
}

int StandinProcess::Stop(int signal) {
  if (pid_ <= 0) {
    return -1;
  }
  kill(pid_, signal);
  // A server that does not stop in time is killed, so a hung server fails the test instead of
  // hanging it.
  int status = 0;
  const auto deadline = Clock::now() + std::chrono::seconds(20);
  pid_t ended = 0;
  while ((ended = waitpid(pid_, &status, WNOHANG)) == 0 && MillisecondsLeft(deadline) > 0) {
    poll(nullptr, 0, 10);
  }
  if (ended == 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, &status, 0);
  }
  pid_ = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace lirvo::test
