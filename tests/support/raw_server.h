// Helpers shared by the test executables. RawServer is a loopback HTTP server for tests that need
// the exact bytes a client sends, or replies no well-behaved server would give: it binds
// 127.0.0.1 on an ephemeral port, serves connections one at a time on its own thread, and stops
// when destroyed. Beside it: environment, working folder, temporary folder, file and process
// helpers.
#pragma once

#include <atomic>
#include <filesystem>
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
  std::string url() const { return "http://127.0.0.1:" + std::to_string(port_); }
  // Every request received so far, raw.
  std::vector<std::string> requests() const;

  // A complete HTTP/1.1 reply with Content-Length and Connection: close.
  static std::string HttpReply(int status, std::string_view body,
                               std::string_view content_type = "text/xml");
  // Writes all of `bytes` to `socket`; returns false when the peer has gone.
  static bool SendAll(int socket, std::string_view bytes);
  // For a handler that never answers: returns once the client hangs up or the server stops.
  void Hold(int socket) const;
  // Whether another connection waits to be served (asked by a handler before it answers).
  bool Waiting() const;

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

// A connection to 127.0.0.1:`port` that has written `bytes`; -1 when that failed.
int Connected(int port, std::string_view bytes);

// What comes back on `socket` until the peer closes it (each read bounded by 20 s, should the peer
// never answer); closes `socket`. "" for a socket of -1.
std::string ReadAll(int socket);

// The body of a raw HTTP request (everything after the blank line; "" when there is none).
std::string BodyOf(const std::string& request);

// The text of a request's body: the client posts UTF-16LE unless LIRVO_TALLY_ENCODING=utf-8.
std::string BodyText(const std::string& request);

// UTF-8 text as the bytes the client posts by default: UTF-16LE without a byte order mark.
std::string Utf16Le(std::string_view utf8);

// A port on 127.0.0.1 that refuses connections for the guard's lifetime: a socket stays bound
// there without listening, so no other process can take the port while a test relies on it.
class RefusedPort {
 public:
  RefusedPort();
  ~RefusedPort();
  RefusedPort(const RefusedPort&) = delete;
  RefusedPort& operator=(const RefusedPort&) = delete;

  int port() const { return port_; }
  std::string url() const { return "http://127.0.0.1:" + std::to_string(port_); }

 private:
  int socket_ = -1;
  int port_ = 0;
};

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

// Makes `folder` the working folder for the lifetime of the guard.
class ScopedCurrentFolder {
 public:
  explicit ScopedCurrentFolder(const std::filesystem::path& folder);
  ~ScopedCurrentFolder() { std::filesystem::current_path(old_); }
  ScopedCurrentFolder(const ScopedCurrentFolder&) = delete;
  ScopedCurrentFolder& operator=(const ScopedCurrentFolder&) = delete;

 private:
  std::filesystem::path old_;
};

// A new folder under the system's temporary folder, removed with its content when destroyed.
class TempDir {
 public:
  explicit TempDir(const std::string& prefix);
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path File(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

// The whole content of `file` ("" when it cannot be read), and writing `bytes` as a file's content.
std::string ReadFile(const std::filesystem::path& file);
void WriteFile(const std::filesystem::path& file, std::string_view bytes);

// Runs a command line through the shell, capturing stdout and stderr.
struct CommandResult {
  int exit_code = -1;
  std::string out;
  std::string err;
};
CommandResult RunCommand(const std::string& command_line);

}  // namespace lirvo::test
