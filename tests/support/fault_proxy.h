// A loopback HTTP proxy in front of a real server (a tally-standin) that forwards every request,
// except that the requests of one kind are answered the way a broken or unusual server answers
// them: IGNORED, with a short count, with a reply given, never, or with the connection closed. It
// binds 127.0.0.1 on an ephemeral port, serves one connection at a time, and stops when destroyed
// (a request held open is then dropped).
#pragma once

#include <atomic>
#include <string>

#include "raw_server.h"

namespace lirvo::test {

class FaultProxy {
 public:
  // Which requests the mode applies to.
  enum class Kind {
    kImport,        // "Import Data" (or TALLYREQUEST Import)
    kAccountsList,  // "List of Accounts" and other export requests
  };
  enum class Mode {
    kForward,     // everything passes unchanged
    kIgnored,     // every counter 0 but IGNORED, the number of TALLYMESSAGEs sent
    kShortCount,  // forwarded, then CREATED (or, when 0, ALTERED) lowered by one
    kReply,       // the raw reply given to the constructor
    kNever,       // the connection held open without a reply until the client gives up
    kClose,       // the connection closed without a reply
  };

  // Forwards to `target` ("http://127.0.0.1:PORT"). With `marker`, the mode applies only to the
  // requests of `kind` whose text holds it (a REMOTEID, a name). `reply` is kReply's (raw HTTP).
  FaultProxy(const std::string& target, Kind kind, Mode mode, std::string marker = {},
             std::string reply = {});
  FaultProxy(const FaultProxy&) = delete;
  FaultProxy& operator=(const FaultProxy&) = delete;

  std::string url() const { return server_.url(); }
  void set_mode(Mode mode) { mode_ = mode; }
  // How many requests were answered per the mode so far (counted as each arrives).
  int faulted() const { return faulted_; }
  // Every request received so far, raw.
  std::vector<std::string> requests() const { return server_.requests(); }
  // How many forwarded requests had another one arrive before they were answered: the server
  // serves one request at a time, so a client must not send a second beside the first.
  int overlapped() const { return overlapped_; }

 private:
  void Handle(int socket, const std::string& request);

  const int target_port_;
  const Kind kind_;
  const std::string marker_;
  const std::string reply_;
  std::atomic<Mode> mode_;
  std::atomic<int> faulted_{0};
  std::atomic<int> overlapped_{0};
  RawServer server_;  // last: its thread stops before the members it uses go
};

}  // namespace lirvo::test
