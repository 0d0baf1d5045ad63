#include "postgres_cluster.h"

#include <fcntl.h>
#include <grp.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <vector>

namespace lirvo::test {

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

int MillisecondsUntil(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return std::max(0, static_cast<int>(left.count()));
}

// The newest installed PostgreSQL's program folder (Debian: /usr/lib/postgresql/15/bin).
std::optional<fs::path> BinFolder() {
  std::error_code error;
  std::optional<fs::path> best;
  for (const auto& entry : fs::directory_iterator("/usr/lib/postgresql", error)) {
    const fs::path bin = entry.path() / "bin";
    if (fs::exists(bin / "initdb", error) && fs::exists(bin / "postgres", error) &&
        (!best || bin > *best)) {
      best = bin;
    }
  }
  return best;
}

// A port nothing listens on now, on 127.0.0.1.
int FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    if (fd >= 0) {
      close(fd);
    }
    throw std::runtime_error("cannot find a free port: " + std::string(std::strerror(errno)));
  }
  close(fd);
  return ntohs(address.sin_port);
}

// Who the server runs as: `nobody` when the tests run as root, else the tests' own user.
struct RunAs {
  bool change = false;
  uid_t uid = 0;
  gid_t gid = 0;
};

RunAs Unprivileged() {
  RunAs who;
  if (geteuid() != 0) {
    return who;
  }
  const passwd* nobody = getpwnam("nobody");
  if (nobody == nullptr) {
    throw std::runtime_error(
        "the tests run as root and there is no user \"nobody\" to run "
        "PostgreSQL as");
  }
  who = {true, nobody->pw_uid, nobody->pw_gid};
  return who;
}

// Starts `words` as `who`, in a process group of its own, its standard output and error into a
// pipe whose reading end is returned in `output`. The child dies with the test process.
pid_t Spawn(std::vector<std::string> words, const RunAs& who, int& output) {
  int pipe_ends[2];
  if (pipe2(pipe_ends, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe: " + std::string(std::strerror(errno)));
  }
  std::vector<char*> argv;
  for (std::string& word : words) {
    argv.push_back(word.data());
  }
  argv.push_back(nullptr);
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid == 0) {
    setpgid(0, 0);
    if (who.change &&
        (setgroups(0, nullptr) != 0 || setgid(who.gid) != 0 || setuid(who.uid) != 0)) {
      _exit(126);
    }
    // Set after the change of user, which clears it.
    if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent) {
      _exit(127);
    }
    dup2(pipe_ends[1], STDOUT_FILENO);
    dup2(pipe_ends[1], STDERR_FILENO);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(pipe_ends[1]);
  if (pid < 0) {
    close(pipe_ends[0]);
    throw std::runtime_error("cannot start " + words[0] + ": " + std::strerror(errno));
  }
  output = pipe_ends[0];
  return pid;
}

// Reads `fd` into `text` until `done(text)` holds (true), it ends or the deadline passes (false).
template <class Done>
bool ReadUntil(int fd, std::string& text, Clock::time_point deadline, Done done) {
  char buffer[4096];
  pollfd waiting{fd, POLLIN, 0};
  while (!done(text)) {
    if (poll(&waiting, 1, MillisecondsUntil(deadline)) <= 0) {
      return false;
    }
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got <= 0) {
      return done(text);
    }
    text.append(buffer, static_cast<std::size_t>(got));
  }
  return true;
}

void Own(const fs::path& path, const RunAs& who) {
  if (who.change && chown(path.c_str(), who.uid, who.gid) != 0) {
    throw std::runtime_error("cannot give " + path.string() +
                             " to nobody: " + std::strerror(errno));
  }
}

}  // namespace

std::optional<std::string> OdbcDriver(const std::string& file) {
  std::error_code error;
  for (const char* folder : {"/usr/lib/x86_64-linux-gnu/odbc", "/usr/lib/aarch64-linux-gnu/odbc",
                             "/usr/lib/odbc", "/usr/lib64", "/usr/lib"}) {
    const fs::path path = fs::path(folder) / file;
    if (fs::exists(path, error)) {
      return path.string();
    }
  }
  for (const auto& entry : fs::directory_iterator("/usr/lib", error)) {
    const fs::path path = entry.path() / "odbc" / file;
    if (fs::exists(path, error)) {
      return path.string();
    }
  }
  return std::nullopt;
}

bool PostgresCluster::Available() {
  return BinFolder().has_value();
}

PostgresCluster::PostgresCluster() {
  const auto bin = BinFolder();
  if (!bin) {
    throw std::runtime_error("PostgreSQL is not installed (no /usr/lib/postgresql/*/bin/initdb)");
  }
  const RunAs who = Unprivileged();
  std::string pattern = (fs::temp_directory_path() / "lirvo-pg-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("cannot make a folder for PostgreSQL: " +
                             std::string(std::strerror(errno)));
  }
  folder_ = pattern;
  Own(folder_, who);
  const fs::path password_file = fs::path(folder_) / "password";
  std::ofstream(password_file) << kAdminPassword << '\n';
  Own(password_file, who);

  const auto deadline = Clock::now() + std::chrono::seconds(60);
  const std::string data = folder_ + "/data";
  int output = -1;
  const pid_t initdb = Spawn(
      {(*bin / "initdb").string(), "-D", data, "-U", kAdmin, "--pwfile=" + password_file.string(),
       "--auth=scram-sha-256", "--encoding=UTF8", "--locale=C", "--no-sync", "--no-instructions"},
      who, output);
  std::string initdb_text;
  ReadUntil(output, initdb_text, deadline, [](const std::string&) { return false; });
  close(output);
  kill(-initdb, SIGKILL);  // only an initdb still running past the deadline is left to end
  int status = 0;
  if (waitpid(initdb, &status, 0) != initdb || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    fs::remove_all(folder_);
    throw std::runtime_error("initdb failed: " + initdb_text);
  }

  port_ = FreePort();
  pid_ = Spawn(
      {(*bin / "postgres").string(), "-D", data, "-p", std::to_string(port_), "-c",
       "listen_addresses=127.0.0.1", "-c", "unix_socket_directories=" + folder_, "-c", "fsync=off"},
      who, log_);
  std::string text;
  if (!ReadUntil(log_, text, deadline, [](const std::string& t) {
        return t.find("ready to accept connections") != std::string::npos;
      })) {
    Stop();
    throw std::runtime_error("PostgreSQL did not start on port " + std::to_string(port_) + ": " +
                             text);
  }
}

PostgresCluster::~PostgresCluster() {
  Stop();
}

void PostgresCluster::Stop() {
  if (pid_ > 0) {
    // A fast shutdown: the pipe ends when the server and every process it started have gone, or
    // the deadline passes and the whole process group is killed.
    kill(pid_, SIGINT);
    std::string rest;
    ReadUntil(log_, rest, Clock::now() + std::chrono::seconds(20),
              [](const std::string&) { return false; });
    kill(-pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  if (log_ >= 0) {
    close(log_);
    log_ = -1;
  }
  if (!folder_.empty()) {
    std::error_code error;
    fs::remove_all(folder_, error);
    folder_.clear();
  }
}

std::string PostgresCluster::ConnectionString() const {
  const auto driver = OdbcDriver("psqlodbcw.so");
  return "DRIVER=" + driver.value_or("psqlodbcw.so") +
         ";SERVER=127.0.0.1;PORT=" + std::to_string(port_) + ";DATABASE=postgres";
}

}  // namespace lirvo::test
