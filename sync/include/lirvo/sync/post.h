// Posting to the books: batches sent one request at a time, a batch the server rejects split in
// halves until every rejected item is named with the server's own reason, and a server that does
// not answer as an import server stopping the run. The sync and the feed of a source's documents
// both post through it.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <lirvo/modTally.h>

namespace lirvo::sync {

// A run that cannot go on: the server is gone, timed out, or answered something that is not an
// import reply, twice for the same request. The description says what the server did, to which
// request, and that nothing after it was sent.
class Stopped : public modTally::Failure {
 public:
  using modTally::Failure::Failure;
};

// What a Poster counts as it goes.
struct PostCounts {
  long requests = 0;
  long split_requests = 0;  // halves of a rejected batch
};

// Posts messages in batches, one request at a time, and splits a batch the server rejects in
// halves until every rejected message is alone, so each gets the server's own reason. `decided`
// receives each part as its outcome is known.
class Poster {
 public:
  using Decided = std::function<void(std::size_t begin, std::size_t end, bool accepted,
                                     const std::string& reason)>;
  // Told, a few times a second while a request is in hand, how long it has waited and how many
  // objects it carries.
  using Waiting = std::function<void(std::chrono::duration<double> waited, long objects)>;
  // The label of message `i` ("voucher \"X\" (row 7)", "master \"Y\""), asked only when a
  // message needs it: a label for every item of a large run costs more than the few ever shown.
  using Label = std::function<std::string(std::size_t i)>;
  // The source row of voucher `i`, for "200 vouchers (rows 1-200)"; none for masters.
  using Row = std::function<long(std::size_t i)>;

  // Posts into `company` at `server` (whose cancel flag is asked before each request and while
  // one is in hand), counting into `counts`.
  Poster(const modTally::Server& server, const std::string& company, PostCounts& counts,
         Waiting waiting = {});

  // Posts `messages` in one request (halves of it when refused). Returns false when interrupted
  // (also in the middle of a request) before every message was decided. Throws Stopped when a
  // request failed, timed out or was not answered with an import reply, and again when tried
  // once more.
  bool Post(std::span<const std::string> messages, const Decided& decided, const Label& label,
            const Row& row = {});

 private:
  struct Batch {
    std::span<const std::string> messages;
    const Label& label;
    const Row& row;
  };
  bool Interrupted() const;
  static std::string Described(const Batch& batch, std::size_t begin, std::size_t end);
  bool Part(const Batch& batch, std::size_t begin, std::size_t end, bool split,
            const Decided& decided);

  const modTally::Server& server_;
  PostCounts& counts_;
  const std::string head_;
  modTally::ExchangeLimits limits_;
  Waiting waiting_;
  std::vector<std::string_view> body_;  // the request being sent: head, messages, tail
};

}  // namespace lirvo::sync
