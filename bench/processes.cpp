#include "processes.h"

#include "paired.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

extern char** environ;

namespace lirvo::bench {

namespace {

using Clock = std::chrono::steady_clock;

// A file descriptor closed when it goes out of scope.
class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() { Reset(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  void Reset() {
    if (fd_ >= 0) {
      close(fd_);
      fd_ = -1;
    }
  }

 private:
  int fd_;
};

std::runtime_error SystemError(const std::string& what, int error) {
  return std::runtime_error(what + ": " + std::strerror(error));
}

std::vector<std::string> Environment(
    const std::vector<std::pair<std::string, std::string>>& overrides) {
  std::vector<std::string> entries;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    bool replaced = false;
    for (const auto& [name, value] : overrides) {
      replaced = replaced || text.rfind(name + "=", 0) == 0;
    }
    if (!replaced) {
      entries.push_back(text);
    }
  }
  for (const auto& [name, value] : overrides) {
    entries.push_back(name + "=" + value);
  }
  return entries;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts) {
    pointers.push_back(text.data());
  }
  pointers.push_back(nullptr);
  return pointers;
}

// Starts `argv` with standard output on `out_fd` (or /dev/null when -1). The child is killed
// when the thread that started it ends, so that nothing outlives lirvo-bench, even a crash.
// vfork: lirvo-bench holds hundreds of MiB, and copying its page tables for each child would cost
// more than some of the work measured.
pid_t Spawn(const std::vector<std::string>& argv, const SpawnOptions& options, int out_fd) {
  std::vector<std::string> arguments = argv;
  std::vector<std::string> environment = Environment(options.environment);
  const std::vector<char*> argument_pointers = Pointers(arguments);
  const std::vector<char*> environment_pointers = Pointers(environment);
  const pid_t parent = getpid();
  volatile int exec_error = 0;  // set by the child, which shares this memory until it executes
  const pid_t pid = vfork();
  if (pid == 0) {
    // Only system calls from here on: the child runs on the parent's memory.
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    dup2(out_fd >= 0 ? out_fd : null, STDOUT_FILENO);
    if (options.quiet_errors) {
      dup2(null, STDERR_FILENO);
    }
    if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent) {
      _exit(127);  // the parent is gone already
    }
    execve(argument_pointers[0], argument_pointers.data(), environment_pointers.data());
    exec_error = errno;
    _exit(127);
  }
  if (pid < 0) {
    throw SystemError("cannot start " + argv.at(0), errno);
  }
  if (exec_error != 0) {
    waitpid(pid, nullptr, 0);
    throw SystemError("cannot start " + argv.at(0), exec_error);
  }
  return pid;
}

int MillisecondsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Waits for `pid` to end by `deadline` (killing it if it does not) and reaps it.
Finished Reap(pid_t pid, Clock::time_point deadline) {
  Finished finished;
  // pidfd_open has no C++ declaration in this glibc; the system call is the same.
  const Fd pidfd(static_cast<int>(syscall(SYS_pidfd_open, pid, 0)));
  int status = 0;
  if (pidfd.get() >= 0) {
    pollfd exited{pidfd.get(), POLLIN, 0};
    if (poll(&exited, 1, MillisecondsLeft(deadline)) == 0) {
      kill(pid, SIGKILL);
    }
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  } else {
    // Without a process descriptor: look every few milliseconds.
    while (waitpid(pid, &status, WNOHANG) == 0) {
      if (MillisecondsLeft(deadline) == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        break;
      }
      poll(nullptr, 0, 5);
    }
  }
  if (WIFEXITED(status)) {
    finished.exit_code = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    finished.signal = WTERMSIG(status);
  }
  return finished;
}

}  // namespace

Finished Run(const std::vector<std::string>& argv, const SpawnOptions& options) {
  const auto started = Clock::now();
  const auto deadline = started + options.deadline;
  std::string output;
  pid_t pid = -1;
  if (options.capture_output) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
      throw SystemError("cannot make a pipe", errno);
    }
    Fd read_end(ends[0]);
    Fd write_end(ends[1]);
    pid = Spawn(argv, options, write_end.get());
    write_end.Reset();
    char buffer[4096];
    for (;;) {
      pollfd readable{read_end.get(), POLLIN, 0};
      if (poll(&readable, 1, MillisecondsLeft(deadline)) <= 0) {
        break;  // the deadline passed: Reap kills the child
      }
      const ssize_t got = read(read_end.get(), buffer, sizeof buffer);
      if (got <= 0) {
        break;
      }
      output.append(buffer, static_cast<std::size_t>(got));
    }
  } else {
    pid = Spawn(argv, options, -1);
  }
  Finished finished = Reap(pid, deadline);
  finished.wall_seconds = std::chrono::duration<double>(Clock::now() - started).count();
  finished.output = std::move(output);
  return finished;
}

Standin::Standin() {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) {
    throw SystemError("cannot make a pipe", errno);
  }
  Fd read_end(ends[0]);
  Fd write_end(ends[1]);
  SpawnOptions options;
  options.quiet_errors = true;
  pid_ = Spawn({LIRVO_STANDIN_PATH, "--port", "0"}, options, write_end.get());
  write_end.Reset();

  std::string line;
  const auto deadline = Clock::now() + std::chrono::seconds(20);
  while (line.find('\n') == std::string::npos) {
    pollfd readable{read_end.get(), POLLIN, 0};
    if (poll(&readable, 1, MillisecondsLeft(deadline)) <= 0) {
      break;
    }
    char buffer[256];
    const ssize_t got = read(read_end.get(), buffer, sizeof buffer);
    if (got <= 0) {
      break;
    }
    line.append(buffer, static_cast<std::size_t>(got));
  }
  const std::string marker = "listening on ";
  const std::size_t at = line.find(marker);
  const std::size_t end = line.find('\n', at);
  if (at == std::string::npos || end == std::string::npos) {
    Stop();
    throw std::runtime_error("tally-standin did not start: \"" + line + "\"");
  }
  url_ = line.substr(at + marker.size(), end - at - marker.size());
}

Standin::~Standin() {
  Stop();
}

void Standin::Stop() {
  if (pid_ <= 0) {
    return;
  }
  kill(pid_, SIGTERM);
  Reap(pid_, Clock::now() + std::chrono::seconds(20));
  pid_ = -1;
}

double MdbExportSeconds(const std::string& database, const std::string& table) {
  std::vector<double> seconds;
  for (int run = 0; run < 3; ++run) {
    const Finished finished = Run({"/usr/bin/mdb-export", database, table});
    if (!finished.ok()) {
      throw std::runtime_error("mdb-export " + database + " " + table + " failed");
    }
    seconds.push_back(finished.wall_seconds);
  }
  return MedianOf(std::move(seconds));
}

}  // namespace lirvo::bench
