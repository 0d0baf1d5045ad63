// What the documents feed has in hand with the server, each on a thread beside the feed's: a batch
// being posted, or the books of the next ranges being read. The server serves one request at a
// time, so the feed waits for these before it sends or asks anything else; what goes on meanwhile
// is its own work (the next batch read, checked and built, the last one told and journaled, a
// range's documents compared with the books). A feed that fails meanwhile abandons the request in
// hand, through the cancel flag of the server value the thread uses, rather than wait for its
// answer.
#pragma once

#include <atomic>
#include <cstddef>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include <lirvo/books/document.h>
#include <lirvo/modTally.h>
#include <lirvo/sync/post.h>

#include "document_spool.h"

namespace lirvo::feed {

// The books' documents of a range, by VoucherID.
using RangeBooks = std::unordered_map<std::string, books::BooksDocument>;

// The books' documents of `type` in `company` at `server` dated from `from` to `to`. Throws
// modTally::Failure saying which could not be read, from where, and why.
// `answered`, if given, is called once the server has answered (before the reply is read).
RangeBooks ReadBooks(const modTally::Server& server, const std::string& company,
                     books::DocumentType type, const std::string& from, const std::string& to,
                     const std::function<void()>& answered = {});

// Threads kept for the requests in hand: a sync posts a batch every few milliseconds, and a
// thread started and ended for each cost more than the request's own work on this side. A job is
// given an idle thread, or a new one when none is idle. Destroyed after every job has finished.
class Threads {
 public:
  Threads();
  Threads(const Threads&) = delete;
  Threads& operator=(const Threads&) = delete;
  ~Threads();

  // Runs `job`; the future is ready, with what the job threw, once its thread is idle again.
  std::future<void> Run(std::function<void()> job);
  // The threads made so far.
  std::size_t size();

 private:
  struct Worker;
  void Serve(Worker& worker);

  std::mutex mutex_;
  std::vector<std::unique_ptr<Worker>> workers_;
  std::vector<Worker*> idle_;
};

// A request on a thread of `threads`, with the feed's server value, also cancelled when the
// request is abandoned: by the destructor, should it still run.
class InHand {
 public:
  InHand() = default;
  InHand(const InHand&) = delete;
  InHand& operator=(const InHand&) = delete;
  ~InHand();

  // Runs `work` on a thread with that server value; what it throws is kept for Rethrow.
  void Start(Threads& threads, const modTally::Server& server,
             std::function<void(const modTally::Server&)> work);
  // Waits for the work, if it runs.
  void Join();
  // Cancels the request in hand without waiting for the work.
  void Abandon() { abandoned_ = true; }
  // Whether the work threw, and rethrows it, once joined.
  bool Failed() const;
  void Rethrow() const;

 private:
  modTally::Server server_;
  std::atomic<bool> abandoned_{false};
  std::shared_future<void> done_;  // ready, with what the work threw, once it has ended
};

// A batch of documents being posted.
struct Posting {
  struct Decided {
    std::size_t begin;
    std::size_t end;
    bool accepted;
    std::string reason;
  };
  std::vector<SpooledDocument> batch;
  std::vector<std::string> messages;
  std::vector<std::string> digests;  // of the messages, when the journal records them
  // Written by the thread, read once it is joined.
  std::vector<Decided> decided;
  sync::PostCounts counts;
  bool finished = false;
  InHand in_hand;  // last: its thread ends before the members it uses go

  // Posts the messages into `company` at `server`, each document named by `label` where the
  // poster needs a name.
  void Start(Threads& threads, const modTally::Server& server, std::string company,
             std::function<std::string(const SpooledDocument&)> label);
  bool WentThrough() const { return finished && !in_hand.Failed(); }
};

// The books of the next ranges being read, in the order of their ranges. Each range's request
// waits for the one before it to be answered, as the server serves one request at a time; a reply
// is read into documents while the server prepares the next.
class ReadAheads {
 public:
  explicit ReadAheads(Threads& threads);
  ~ReadAheads();
  ReadAheads(const ReadAheads&) = delete;
  ReadAheads& operator=(const ReadAheads&) = delete;

  // Begins reading the books of `type` from `from` to `to`, after the ranges begun before; nothing
  // when that range is being read already.
  void Add(const modTally::Server& server, const std::string& company, books::DocumentType type,
           const std::string& from, const std::string& to);
  // The books of that range, once read, when it is the first range being read; rethrows what its
  // reading threw. None otherwise, and then none of the ranges is read ahead any more.
  std::optional<RangeBooks> Take(books::DocumentType type, const std::string& from,
                                 const std::string& to);
  // Waits for every range being read.
  void Join();
  // Abandons every range being read and forgets them.
  void Drop();

 private:
  struct Reading;
  Threads& threads_;
  std::deque<std::unique_ptr<Reading>> reading_;
};

}  // namespace lirvo::feed
