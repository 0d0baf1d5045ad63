// tally-standin: a stand-in for the accounting server, for demos and end-to-end tests.
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <stdexcept>
#include <string>
#include <thread>

#include <CLI/CLI.hpp>

#include <lirvo/exit_status.h>
#include <lirvo/memory.h>
#include <lirvo/standin/http_server.h>
#include <lirvo/standin/service.h>

namespace {

using lirvo::kExitFailure;
using lirvo::kExitOk;
using lirvo::kExitUsage;

// Refuses an empty value, naming what the option needs.
CLI::Validator NotEmpty(const std::string& what) {
  return CLI::Validator(
      [what](std::string& value) { return value.empty() ? "needs " + what : std::string(); }, "",
      "NotEmpty");
}

}  // namespace

// Long: the options read and checked in the order --help lists them.
int main(int argc, char** argv) {
  using namespace lirvo::standin;
  lirvo::KeepFreedMemory();
  Options options;
  int port = 9000;
  CLI::App app(
      "A stand-in for the accounting server: answers the requests of Lirvo on 127.0.0.1.\n"
      "Prints \"listening on http://127.0.0.1:PORT\" once it accepts requests, and serves until\n"
      "SIGINT or SIGTERM.",
      "tally-standin");
  app.set_version_flag("--version", "tally-standin " LIRVO_VERSION);
  app.add_option("--port", port, "port to listen on (default 9000; 0 picks a free port)")
      ->check(CLI::Range(0, 65535));
  app.add_option("--data", options.data_path,
                 "keep companies, masters and vouchers in this SQLite file (default: in memory, "
                 "lost on exit)")
      ->type_name("FILE")
      ->check(NotEmpty("a file name"));
  app.add_option("--company", options.companies,
                 "an open company; repeat for more, the first is the current one (default: \"" +
                     std::string(kDefaultCompany) + "\")")
      ->type_name("NAME")
      ->check(NotEmpty("a name"));
  app.add_flag("--strict", options.strict,
               "refuse to alter a master or voucher that does not exist (default: create it)");
  bool one_at_a_time = false;
  app.add_flag("--one-at-a-time", one_at_a_time,
               "answer requests strictly one after the other, as the accounting server does "
               "(default: several at once)");
  try {
    app.parse(argc, argv);
  } catch (const CLI::Success& done) {
    return app.exit(done);  // --help or --version, on stdout
  } catch (const CLI::ParseError& error) {
    std::cerr << "tally-standin: " << error.what() << "\n(see tally-standin --help)\n";
    return kExitUsage;
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
    Service service(options);
    HttpServer server(service, one_at_a_time);
    const int bound = server.Bind("127.0.0.1", port);
    std::printf("listening on http://127.0.0.1:%d\n", bound);
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
