#include "raw_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace lirvo::test {

namespace {

int Listen(int& port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    throw std::runtime_error("socket: " + std::string(std::strerror(errno)));
  }
  const int yes = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd, 16) != 0) {
    close(fd);
    throw std::runtime_error("bind/listen: " + std::string(std::strerror(errno)));
  }
  socklen_t length = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  port = ntohs(address.sin_port);
  return fd;
}

// Reads one request: headers up to the blank line, then Content-Length bytes of body.
std::string ReadRequest(int fd) {
  timeval timeout{5, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  std::string data;
  size_t header_end = std::string::npos;
  size_t wanted = 0;
  char buffer[65536];
  while (true) {
    if (header_end != std::string::npos && data.size() >= wanted) {
      return data;
    }
    const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
    if (got <= 0) {
      return data;
    }
    data.append(buffer, static_cast<size_t>(got));
    if (header_end == std::string::npos) {
      header_end = data.find("\r\n\r\n");
      if (header_end != std::string::npos) {
        size_t length = 0;
        std::istringstream lines(data.substr(0, header_end));
        for (std::string line; std::getline(lines, line);) {
          if (strncasecmp(line.c_str(), "Content-Length:", 15) == 0) {
            length = std::strtoul(line.c_str() + 15, nullptr, 10);
          }
        }
        wanted = header_end + 4 + length;
      }
    }
  }
}

}  // namespace

RawServer::RawServer(Handler handler) : handler_(std::move(handler)) {
  listener_ = Listen(port_);
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

std::string RawServer::url() const {
  return "http://127.0.0.1:" + std::to_string(port_);
}

std::vector<std::string> RawServer::requests() const {
  const std::lock_guard lock(mutex_);
  return requests_;
}

void RawServer::Serve() {
  while (!stopping_) {
    pollfd waiting{listener_, POLLIN, 0};
    if (poll(&waiting, 1, 20) <= 0) {
      continue;
    }
    const int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
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
  std::string reply = "HTTP/1.1 " + std::to_string(status) + " Status\r\n";
  reply += "Content-Type: " + std::string(content_type) + "\r\n";
  reply += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  reply += "Connection: close\r\n\r\n";
  reply += body;
  return reply;
}

bool RawServer::SendAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t sent = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent <= 0) {
      return false;
    }
    bytes.remove_prefix(static_cast<size_t>(sent));
  }
  return true;
}

int UnusedPort() {
  int port = 0;
  close(Listen(port));
  return port;
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

CommandResult RunCommand(const std::string& command_line) {
  char err_path[] = "/tmp/lirvo-test-stderr-XXXXXX";
  const int err_fd = mkstemp(err_path);
  if (err_fd < 0) {
    throw std::runtime_error("mkstemp failed");
  }
  close(err_fd);
  CommandResult result;
  FILE* pipe = popen((command_line + " 2>" + err_path).c_str(), "r");
  if (pipe == nullptr) {
    throw std::runtime_error("cannot run " + command_line);
  }
  char buffer[4096];
  size_t got = 0;
  while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) {
    result.out.append(buffer, got);
  }
  const int status = pclose(pipe);
  result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::ifstream err(err_path, std::ios::binary);
  result.err.assign(std::istreambuf_iterator<char>(err), std::istreambuf_iterator<char>());
  std::remove(err_path);
  return result;
}

}  // namespace lirvo::test
