// tally-standin: a stand-in for the accounting server, for demos and end-to-end tests.
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <stdexcept>
#include <thread>

#include <lirvo/standin/http_server.h>
#include <lirvo/standin/service.h>

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

}  // namespace

int main(int argc, char** argv) {
  using namespace lirvo::standin;
  CommandLine line;
  try {
    line = ParseCommandLine(argc - 1, argv + 1);
  } catch (const std::invalid_argument& error) {
    std::cerr << "tally-standin: " << error.what() << "\n(see tally-standin --help)\n";
    return kExitUsage;
  }
  if (line.help) {
    std::cout << Usage();
    return kExitOk;
  }

  // SIGINT and SIGTERM are taken by one thread with sigtimedwait; every other thread (the
  // server's workers included) inherits the blocked mask. A closed client connection must not
  // end the process.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  try {
    Service service(line.options);
    HttpServer server(service);
    const int port = server.Bind("127.0.0.1", line.port);
    std::printf("listening on http://127.0.0.1:%d\n", port);
    std::fflush(stdout);

    std::atomic<bool> done{false};
    std::thread waiter([&] {
      const timespec interval{0, 200'000'000};
      while (!done) {
        if (sigtimedwait(&stop_signals, nullptr, &interval) > 0) {
          server.Stop();
          return;
        }
      }
    });
    server.Run();
    done = true;
    waiter.join();
  } catch (const std::exception& error) {
    std::cerr << "tally-standin: " << error.what() << '\n';
    return kExitFailure;
  }
  return kExitOk;
}
