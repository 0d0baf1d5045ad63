#include "raw_server.h"

#include <lirvo/encoding.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>

namespace lirvo::test {

namespace {

[[noreturn]] void Fail(const std::string& what) {
  throw std::runtime_error(what + ": " + std::strerror(errno));
}

sockaddr_in Loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  return address;
}

// A TCP socket bound to an ephemeral port of 127.0.0.1, listening when `listening`.
int Bind(int& port, bool listening) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    Fail("socket");
  }
  sockaddr_in address = Loopback(0);
  socklen_t length = sizeof address;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      (listening && listen(fd, 16) != 0) ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    close(fd);
    Fail("cannot bind a port of 127.0.0.1");
  }
  port = ntohs(address.sin_port);
  return fd;
}

// Reads one request: headers up to the blank line, then Content-Length bytes of body.
std::string ReadRequest(int fd) {
  timeval timeout{5, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  std::string data;
  std::size_t wanted = std::string::npos;  // known once the headers are in
  char buffer[65536];
  while (data.size() < wanted) {
    const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
    if (got <= 0) {
      break;
    }
    data.append(buffer, static_cast<std::size_t>(got));
    const std::size_t end = wanted == std::string::npos ? data.find("\r\n\r\n") : std::string::npos;
    if (end != std::string::npos) {
      std::string headers = data.substr(0, end);
      std::transform(headers.begin(), headers.end(), headers.begin(),
                     [](unsigned char c) { return std::tolower(c); });
      const std::size_t at = headers.find("\ncontent-length:");
      wanted =
          end + 4 + (at == std::string::npos ? 0 : std::strtoul(&headers[at + 16], nullptr, 10));
    }
  }
  return data;
}

}  // namespace

RawServer::RawServer(Handler handler) : handler_(std::move(handler)) {
  listener_ = Bind(port_, true);
  thread_ = std::thread([this] { Serve(); });
}

RawServer RawServer::Replying(std::string reply) {
  return RawServer([reply = std::move(reply)](int fd, const std::string&) { SendAll(fd, reply); });
}

RawServer::~RawServer() {
  stopping_ = true;
  thread_.join();
  close(listener_);
}

std::vector<std::string> RawServer::requests() const {
  const std::lock_guard lock(mutex_);
  return requests_;
}

void RawServer::Serve() {
  while (!stopping_) {
    pollfd waiting{listener_, POLLIN, 0};
    const int fd =
        poll(&waiting, 1, 20) > 0 ? accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC) : -1;
    if (fd < 0) {
      continue;
    }
    const std::string request = ReadRequest(fd);
    {
      const std::lock_guard lock(mutex_);
      requests_.push_back(request);
    }
    handler_(fd, request);
    shutdown(fd, SHUT_RDWR);
    close(fd);
  }
}

std::string RawServer::HttpReply(int status, std::string_view body, std::string_view content_type) {
  return "HTTP/1.1 " + std::to_string(status) +
         " Status\r\nContent-Type: " + std::string(content_type) +
         "\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" +
         std::string(body);
}

bool RawServer::SendAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t sent = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent <= 0) {
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(sent));
  }
  return true;
}

bool RawServer::Waiting() const {
  pollfd waiting{listener_, POLLIN, 0};
  return poll(&waiting, 1, 0) > 0;
}

void RawServer::Hold(int fd) const {
  char byte = 0;
  pollfd waiting{fd, POLLIN, 0};
  while (!stopping_) {
    if (poll(&waiting, 1, 20) > 0 && recv(fd, &byte, 1, MSG_DONTWAIT) <= 0) {
      return;
    }
  }
}

int Connected(int port, std::string_view bytes) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const sockaddr_in address = Loopback(port);
  if (fd >= 0 && connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
      RawServer::SendAll(fd, bytes)) {
    return fd;
  }
  close(fd);
  return -1;
}

std::string ReadAll(int fd) {
  const timeval timeout{20, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  std::string reply;
  char buffer[65536];
  for (ssize_t got = 0; fd >= 0 && (got = recv(fd, buffer, sizeof buffer, 0)) > 0;) {
    reply.append(buffer, static_cast<std::size_t>(got));
  }
  close(fd);
  return reply;
}

std::string BodyOf(const std::string& request) {
  const std::size_t end = request.find("\r\n\r\n");
  return end == std::string::npos ? std::string() : request.substr(end + 4);
}

std::string BodyText(const std::string& request) {
  const std::string body = BodyOf(request);
  return body.find('\0') == std::string::npos
             ? body
             : encoding::Utf16ToUtf8(body, encoding::ByteOrder::kLittle);
}

std::string Utf16Le(std::string_view utf8) {
  return encoding::Utf8ToUtf16(utf8, encoding::ByteOrder::kLittle);
}

RefusedPort::RefusedPort() : socket_(Bind(port_, false)) {}

RefusedPort::~RefusedPort() {
  close(socket_);
}

ScopedEnv::ScopedEnv(std::string name, const std::string& value) : name_(std::move(name)) {
  if (const char* old = std::getenv(name_.c_str())) {
    had_old_ = true;
    old_ = old;
  }
  setenv(name_.c_str(), value.c_str(), 1);
}

ScopedEnv::~ScopedEnv() {
  if (had_old_) {
    setenv(name_.c_str(), old_.c_str(), 1);
  } else {
    unsetenv(name_.c_str());
  }
}

ScopedCurrentFolder::ScopedCurrentFolder(const std::filesystem::path& folder)
    : old_(std::filesystem::current_path()) {
  std::filesystem::current_path(folder);
}

TempDir::TempDir(const std::string& prefix) {
  std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
  if (mkdtemp(pattern.data()) == nullptr) {
    Fail("cannot make a folder like " + pattern);
  }
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string ReadFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const std::filesystem::path& file, std::string_view bytes) {
  std::ofstream(file, std::ios::binary) << bytes;
}

CommandResult RunCommand(const std::string& command_line) {
  const TempDir folder("lirvo-command");
  const std::filesystem::path err = folder.File("stderr");
  FILE* pipe = popen((command_line + " 2>'" + err.string() + "'").c_str(), "r");
  if (pipe == nullptr) {
    Fail("cannot run " + command_line);
  }
  CommandResult result;
  char buffer[4096];
  for (std::size_t got = 0; (got = fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
    result.out.append(buffer, got);
  }
  const int status = pclose(pipe);
  result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.err = ReadFile(err);
  return result;
}

}  // namespace lirvo::test
