#include <lirvo/standin/http_server.h>

#include <httplib.h>
#include <sys/socket.h>

#include <atomic>
#include <charconv>
#include <cstdint>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace lirvo::standin {

namespace {

// Enough workers that a few slow or idle connections never hold up the others.
constexpr std::size_t kWorkers = 16;

std::string RequestTooLarge() {
  return "<RESPONSE>Request too large: the limit is " + std::to_string(kMaxRequestBytes) +
         " bytes</RESPONSE>\n";
}

// Hands the reply's body over without a copy (exports run to megabytes).
void Respond(httplib::Response& response, HttpReply reply) {
  response.status = reply.status;
  response.body = std::move(reply.body);
  response.set_header("Content-Type", reply.content_type);
}

}  // namespace

struct HttpServer::Impl {
  explicit Impl(Service& given) : service(given) {}

  Service& service;
  httplib::Server server;
  std::mutex mutex;  // guards the two flags
  bool stop_requested = false;
  bool running = false;
  std::atomic<bool> finished{false};
};

// Long: the server's limits, timeouts and handler set up in one place, clearer whole.
HttpServer::HttpServer(Service& service, bool one_at_a_time)
    : impl_(std::make_unique<Impl>(service)) {
  httplib::Server& server = impl_->server;
  const std::size_t workers = one_at_a_time ? 1 : kWorkers;
  server.new_task_queue = [workers] { return new httplib::ThreadPool(workers); };
  if (one_at_a_time) {
    server.set_keep_alive_max_count(1);
  }
  // Beyond what the POST handler accepts; it enforces the limit itself.
  server.set_payload_max_length(2 * kMaxRequestBytes);
  // Also bounds how long a stop waits for a client that stalls half-way through a request.
  server.set_read_timeout(5, 0);
  server.set_write_timeout(10, 0);
  server.set_keep_alive_timeout(2);
  // The library's default also sets SO_REUSEPORT, which would let a second stand-in share a busy
  // port and take half its requests; a busy port must be an error instead.
  server.set_socket_options([](socket_t socket) {
    const int yes = 1;
    setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });
  Service* target = &service;
  // The body is read here rather than by the library, so that one over the limit is refused as
  // soon as that is known (from its Content-Length, or once the limit is passed) instead of
  // being read to its end.
  server.Post(".*", [target](const httplib::Request& request, httplib::Response& response,
                             const httplib::ContentReader& read_body) {
    const std::string announced = request.get_header_value("Content-Length");
    std::uint64_t announced_length = 0;
    const auto [end, error] =
        std::from_chars(announced.data(), announced.data() + announced.size(), announced_length);
    bool too_large = error == std::errc::result_out_of_range ||
                     (error == std::errc() && announced_length > kMaxRequestBytes);
    std::string body;
    bool complete = false;
    if (!too_large) {
      // Grown once to the announced size rather than copied again as the chunks arrive.
      body.reserve(error == std::errc() ? announced_length : 0);
      complete = read_body([&](const char* data, std::size_t length) {
        if (body.size() + length > kMaxRequestBytes) {
          too_large = true;
          return false;
        }
        body.append(data, length);
        return true;
      });
    }
    if (too_large) {
      response.status = 413;
      response.set_header("Connection", "close");
      response.set_content(RequestTooLarge(), "text/xml; charset=utf-8");
      return;
    }
    if (!complete) {
      // The client went away mid-body: whatever arrived is not the request it meant to send.
      response.status = 400;
      response.set_header("Connection", "close");
      response.set_content("<RESPONSE>Incomplete request, nothing was imported</RESPONSE>\n",
                           "text/xml; charset=utf-8");
      return;
    }
    Respond(response, target->Post(body, request.get_header_value("Content-Type")));
  });
  server.Get(".*", [target](const httplib::Request& request, httplib::Response& response) {
    Respond(response, target->Get(request.get_header_value("Accept")));
  });
  // Replies the library makes itself (a body over the limit, a malformed request line) carry a
  // RESPONSE message like every other refusal.
  server.set_error_handler([](const httplib::Request&, httplib::Response& response) {
    if (!response.body.empty()) {
      return;
    }
    response.set_content(
        response.status == 413
            ? RequestTooLarge()
            : "<RESPONSE>HTTP error " + std::to_string(response.status) + "</RESPONSE>\n",
        "text/xml; charset=utf-8");
  });
}

HttpServer::~HttpServer() {
  Stop();
}

int HttpServer::Bind(const std::string& host, int port) {
  const int bound = port == 0 ? impl_->server.bind_to_any_port(host)
                              : (impl_->server.bind_to_port(host, port) ? port : -1);
  if (bound <= 0) {
    throw std::runtime_error("cannot listen on " + host + ":" + std::to_string(port) +
                             " (is another server using the port?)");
  }
  return bound;
}

void HttpServer::Run() {
  {
    const std::lock_guard lock(impl_->mutex);
    if (impl_->stop_requested) {
      impl_->finished = true;
      return;
    }
    impl_->running = true;
  }
  impl_->server.listen_after_bind();
  impl_->finished = true;
}

void HttpServer::Stop() {
  {
    const std::lock_guard lock(impl_->mutex);
    impl_->stop_requested = true;
    if (!impl_->running) {
      return;
    }
  }
  // The library only stops a server that has started listening, and Run may not have got there
  // yet: wait for one or the other.
  while (!impl_->server.is_running() && !impl_->finished) {
    std::this_thread::yield();
  }
  impl_->server.stop();
}

}  // namespace lirvo::standin
