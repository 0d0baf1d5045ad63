// A loopback HTTP server for tests that need the exact bytes a client sends, or replies no
// well-behaved server would give. It binds 127.0.0.1 on an ephemeral port, serves connections one
// at a time on its own thread, and stops when destroyed.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace lirvo::test {

class RawServer {
 public:
  // Given the connected socket and the raw request (headers and body as received), writes
  // whatever reply it likes; the server closes the connection afterwards.
  using Handler = std::function<void(int socket, const std::string& request)>;

  explicit RawServer(Handler handler);
  // Answers every request with `reply` (raw bytes, status line included).
  static RawServer Replying(std::string reply);
  ~RawServer();
  RawServer(const RawServer&) = delete;
  RawServer& operator=(const RawServer&) = delete;

  int port() const { return port_; }
  std::string url() const;
  // Every request received so far, raw.
  std::vector<std::string> requests() const;

  // A complete HTTP/1.1 reply with Content-Length and Connection: close.
  static std::string HttpReply(int status, std::string_view body,
                               std::string_view content_type = "text/xml");
  // Writes all of `bytes` to `socket`; returns false when the peer has gone.
  static bool SendAll(int socket, std::string_view bytes);

 private:
  void Serve();

  Handler handler_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  mutable std::mutex mutex_;
  std::vector<std::string> requests_;
  std::thread thread_;
};

// A port on 127.0.0.1 where nothing listens (bound once, then released).
int UnusedPort();

// Sets an environment variable for the lifetime of the guard and restores the old value after.
class ScopedEnv {
 public:
  ScopedEnv(std::string name, const std::string& value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  bool had_old_ = false;
  std::string old_;
};

// Runs a command line through the shell, capturing stdout and stderr.
struct CommandResult {
  int exit_code = -1;
  std::string out;
  std::string err;
};
CommandResult RunCommand(const std::string& command_line);

}  // namespace lirvo::test
