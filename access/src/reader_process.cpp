// The child runner (see reader_process.h).
#include "reader_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>

#include <lirvo/modTally.h>

#include "frames.h"

extern char** environ;

namespace lirvo::access {

namespace {

using modTally::Failure;
namespace FailureNumber = modTally::FailureNumber;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kErrorsKept = 2048;
constexpr std::size_t kErrorsShown = 300;
constexpr std::size_t kChunk = 64 * 1024;
constexpr const char* kProgram = "lirvo-mdb-reader";
const std::string kAdvice = "; repair it in Access (Compact and Repair) or use a good copy";

std::string ProgramPath() {
  if (const char* chosen = std::getenv("LIRVO_MDB_READER"); chosen != nullptr && *chosen != 0) {
    return chosen;
  }
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (!error) {
    const std::filesystem::path beside = self.parent_path() / kProgram;
    if (::access(beside.c_str(), X_OK) == 0) {
      return beside.string();
    }
  }
  return std::string(LIRVO_MDB_READER_INSTALLED) + "/" + kProgram;
}

// A pipe whose ends close on exec; the child gets its write end by dup2, which clears the flag.
std::array<int, 2> Pipe() {
  std::array<int, 2> ends{-1, -1};
  if (pipe2(ends.data(), O_CLOEXEC) != 0) {
    throw Failure(FailureNumber::kDatabase,
                  std::string("cannot start the database reader: ") + std::strerror(errno));
  }
  return ends;
}

void CloseFd(int& fd) {
  if (fd >= 0) {
    close(fd);
    fd = -1;
  }
}

int MillisecondsLeft(Clock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left <= 0 ? 0 : static_cast<int>(left);
}

// The reader's complaints as one line, for the end of a failure's description.
std::string OneLine(const std::string& text) {
  std::string line;
  for (const char c : text) {
    if (c == '\n' || c == '\r') {
      if (!line.empty() && line.back() != ' ') {
        line += line.back() == ';' ? " " : "; ";
      }
    } else {
      line += c;
    }
  }
  while (!line.empty() && (line.back() == ' ' || line.back() == ';')) {
    line.pop_back();
  }
  if (line.size() > kErrorsShown) {
    line.resize(kErrorsShown);
    line += "...";
  }
  return line;
}

}  // namespace

std::chrono::milliseconds ReaderDeadline() {
  long seconds = 15;
  if (const char* chosen = std::getenv("LIRVO_MDB_READER_TIMEOUT"); chosen != nullptr) {
    const std::string_view text(chosen);
    long value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error == std::errc() && end == text.data() + text.size() && value >= 1) {
      seconds = value;
    }
  }
  return std::chrono::seconds(seconds);
}

ReaderProcess::ReaderProcess(const std::vector<std::string>& arguments,
                             std::function<std::string()> where)
    : where_(std::move(where)), program_(ProgramPath()), limit_(ReaderDeadline()) {
  std::array<int, 2> out = Pipe();
  std::array<int, 2> err{-1, -1};
  try {
    err = Pipe();
  } catch (...) {
    CloseFd(out[0]);
    CloseFd(out[1]);
    throw;
  }
  std::vector<std::string> args{program_};
  args.insert(args.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& arg : args) {
    argv.push_back(arg.data());
  }
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
  // Nothing else this process holds open (sockets, other readers' pipes) goes to the reader.
  posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none;
  sigemptyset(&none);
  sigset_t defaults;
  sigemptyset(&defaults);
  for (const int sig : {SIGPIPE, SIGINT, SIGTERM, SIGQUIT, SIGHUP}) {
    sigaddset(&defaults, sig);
  }
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setpgroup(&attributes, 0);
  posix_spawnattr_setflags(&attributes,
                           POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);
  const int spawned =
      posix_spawn(&pid_, program_.c_str(), &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  CloseFd(out[1]);
  CloseFd(err[1]);
  if (spawned != 0) {
    pid_ = -1;
    CloseFd(out[0]);
    CloseFd(err[0]);
    throw Failure(FailureNumber::kDatabase, "cannot read " + where_() +
                                                ": cannot start the database reader " + program_ +
                                                ": " + std::strerror(spawned));
  }
  out_ = out[0];
  err_ = err[0];
  buffer_.resize(kChunk);
}

ReaderProcess::~ReaderProcess() {
  CloseOutput();
  CloseFd(err_);
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
  }
}

void ReaderProcess::CloseOutput() {
  CloseFd(out_);
}

void ReaderProcess::ReadErrors() {
  char chunk[4096];
  const ssize_t got = read(err_, chunk, sizeof chunk);
  if (got > 0) {
    const std::size_t room = kErrorsKept - std::min(kErrorsKept, errors_.size());
    errors_.append(chunk, std::min(room, static_cast<std::size_t>(got)));
  } else if (got == 0 || errno != EINTR) {
    CloseFd(err_);
  }
}

// Reads what the reader wrote; false at the end of its output. Throws when `deadline` passes.
bool ReaderProcess::Fill(Clock::time_point deadline) {
  if (begin_ > 0) {
    std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
  }
  if (buffer_.size() - end_ < kChunk / 2) {
    buffer_.resize(end_ + kChunk);
  }
  while (true) {
    std::array<pollfd, 2> fds{pollfd{out_, POLLIN, 0}, pollfd{err_, POLLIN, 0}};
    const int ready = poll(fds.data(), err_ >= 0 ? 2 : 1, MillisecondsLeft(deadline));
    if (ready < 0 && errno == EINTR) {
      continue;
    }
    if (ready == 0) {
      Fail("the file is damaged (reading it made no progress for " +
           std::to_string(
               std::chrono::duration_cast<std::chrono::seconds>(ReaderDeadline()).count()) +
           " s, so it was stopped)" + kAdvice);
    }
    if (ready < 0) {
      Fail(std::string("cannot wait for the database reader: ") + std::strerror(errno));
    }
    if (err_ >= 0 && fds[1].revents != 0) {
      ReadErrors();
    }
    if (fds[0].revents != 0) {
      const ssize_t got = read(out_, buffer_.data() + end_, buffer_.size() - end_);
      if (got > 0) {
        end_ += static_cast<std::size_t>(got);
        return true;
      }
      if (got == 0) {
        return false;
      }
      if (errno != EINTR) {
        Fail(std::string("cannot read from the database reader: ") + std::strerror(errno));
      }
    }
  }
}

// Waits for the reader to end, draining its standard error, and gives its wait status; kills it
// first when it has not ended by `deadline`.
int ReaderProcess::Reap(Clock::time_point deadline) {
  while (err_ >= 0) {
    pollfd fd{err_, POLLIN, 0};
    const int ready = poll(&fd, 1, MillisecondsLeft(deadline));
    if (ready == 0) {
      break;
    }
    if (ready > 0) {
      ReadErrors();
    } else if (errno != EINTR) {
      break;
    }
  }
  CloseFd(err_);
  int status = 0;
  pid_t ended = 0;
  while ((ended = waitpid(pid_, &status, Clock::now() < deadline ? 0 : WNOHANG)) < 0 &&
         errno == EINTR) {
  }
  if (ended == 0) {
    kill(pid_, SIGKILL);
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
  }
  pid_ = -1;
  return status;
}

void ReaderProcess::Fail(const std::string& reason) {
  std::string description = "cannot read " + where_() + ": " + reason;
  CloseOutput();
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    Reap(Clock::now() + std::chrono::seconds(1));
  }
  const std::string said = OneLine(errors_);
  if (!said.empty()) {
    description += " (libmdb: " + said + ")";
  }
  throw Failure(FailureNumber::kDatabase, description);
}

// Long: one loop over the pipe: a frame held, more read, or the wait's deadline, clearer whole.
ReaderProcess::Frame ReaderProcess::Next() {
  if (done_) {
    return {frames::kDone, {}};
  }
  // The reader has limit_ from here to send a frame; a progress frame starts the time again.
  std::optional<Clock::time_point> deadline;
  while (true) {
    const std::size_t held = end_ - begin_;
    if (held >= frames::kPrefix) {
      const std::uint32_t length = frames::ReadUint32(buffer_.data() + begin_);
      if (length > frames::kMaxFrame) {
        Fail("the database reader's output is garbled (a frame of " + std::to_string(length) +
             " bytes)");
      }
      if (held >= frames::kPrefix + length) {
        const Frame frame{buffer_[begin_ + 4],
                          std::string_view(buffer_.data() + begin_ + frames::kPrefix, length)};
        begin_ += frames::kPrefix + length;
        if (frame.kind == frames::kProgress) {
          deadline.reset();
          continue;
        }
        if (frame.kind == frames::kError) {
          std::string_view payload = frame.payload;
          std::optional<std::string_view> number;
          std::optional<std::string_view> text;
          int value = FailureNumber::kDatabase;
          if (frames::TakeField(payload, number) && frames::TakeField(payload, text) && number &&
              text) {
            std::from_chars(number->data(), number->data() + number->size(), value);
            std::string description(*text);
            CloseOutput();
            Reap(Clock::now() + std::chrono::seconds(1));  // it exits 1 after the frame
            const std::string said = OneLine(errors_);
            if (!said.empty()) {
              description += " (libmdb: " + said + ")";
            }
            throw Failure(value, description);
          }
          Fail("the database reader's output is garbled (a failure without its description)");
        }
        if (frame.kind == frames::kDone) {
          CloseOutput();
          const int status = Reap(Clock::now() + limit_);
          done_ = true;
          if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            done_ = false;
            Fail(WIFSIGNALED(status)
                     ? "the database reader was killed by signal " +
                           std::to_string(WTERMSIG(status)) + " after reading all"
                     : "the database reader ended with status " +
                           std::to_string(WEXITSTATUS(status)) + " after reading all");
          }
        }
        return frame;
      }
    }
    if (!deadline) {
      deadline = Clock::now() + limit_;
    }
    if (!Fill(*deadline)) {
      CloseOutput();
      const int status = Reap(*deadline);
      if (WIFSIGNALED(status)) {
        const char* signal_name = sigdescr_np(WTERMSIG(status));
        Fail("the file is damaged (reading it crashed the database reader: " +
             (signal_name != nullptr ? std::string(signal_name)
                                     : "signal " + std::to_string(WTERMSIG(status))) +
             ")" + kAdvice);
      }
      if (WIFEXITED(status) && WEXITSTATUS(status) != 0) {
        Fail("the database reader " + program_ + " ended with status " +
             std::to_string(WEXITSTATUS(status)));
      }
      Fail("the database reader's output stopped before its end" + kAdvice);
    }
  }
}

}  // namespace lirvo::access
