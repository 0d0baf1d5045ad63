// The HTTP front end of the stand-in: serves a Service on a loopback address with a pool of
// threads. The HTTP library stays out of this header.
#pragma once

#include <memory>
#include <string>

#include <lirvo/standin/service.h>

namespace lirvo::standin {

class HttpServer {
 public:
  // Serves `service`, which must outlive the server. With `one_at_a_time` one worker answers
  // every request strictly after the one before, as the accounting server does, and closes each
  // connection after its reply so that an idle client holds no one up; the other clients wait
  // their turn. Otherwise a pool of workers answers several connections at once.
  explicit HttpServer(Service& service, bool one_at_a_time = false);
  // Stops serving (as Stop) and waits for the requests in hand.
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Binds `host`:`port` (0 picks a free port) and returns the port bound. Throws
  // std::runtime_error naming the address when it cannot bind.
  int Bind(const std::string& host, int port);

  // Accepts and answers requests until Stop; returns at once when Stop came first. Call once,
  // after Bind.
  void Run();

  // Makes Run return after the requests in hand are answered. Safe from any thread, at any time
  // after construction, and more than once.
  void Stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace lirvo::standin
