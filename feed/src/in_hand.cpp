#include "in_hand.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <optional>
#include <utility>

#include <lirvo/books/readback.h>
#include <lirvo/export_reply.h>

namespace lirvo::feed {

RangeBooks ReadBooks(const modTally::Server& server, const std::string& company,
                     books::DocumentType type, const std::string& from, const std::string& to,
                     const std::function<void()>& answered) {
  const std::string what = "cannot read the " + std::string(books::ServerName(type)) +
                           " vouchers of \"" + company + "\" dated " + from + " to " + to +
                           " from " + modTally::ShownUrl(server.url);
  modTally::Reply reply;
  try {
    reply = modTally::Exchange(
        server, books::VoucherExportRequest(company, from, to, books::ServerName(type)),
        server.Import());
  } catch (const modTally::Failure& failure) {
    throw modTally::Failure(failure, what + ": " + failure.description());
  }
  if (answered) {
    answered();
  }
  pugi::xml_document xml;
  const pugi::xml_node root = modTally::ReadExportReply(xml, reply, {what, company});
  RangeBooks held;
  for (const pugi::xml_node voucher :
       root.child("BODY").child("DATA").child("COLLECTION").children("VOUCHER")) {
    if (std::optional<books::BooksDocument> read = books::ReadDocument(voucher)) {
      std::string id = read->document.voucher_id;
      held.emplace(std::move(id), std::move(*read));
    }
  }
  return held;
}

struct Threads::Worker {
  std::condition_variable wake;
  std::function<void()> job;  // the job given, until the worker takes it
  std::promise<void> done;    // of that job
  bool stop = false;
  std::thread thread;
};

Threads::Threads() = default;

Threads::~Threads() {
  {
    const std::lock_guard lock(mutex_);
    for (const std::unique_ptr<Worker>& worker : workers_) {
      worker->stop = true;
      worker->wake.notify_one();
    }
  }
  for (const std::unique_ptr<Worker>& worker : workers_) {
    worker->thread.join();
  }
}

std::future<void> Threads::Run(std::function<void()> job) {
  const std::lock_guard lock(mutex_);
  if (!idle_.empty()) {
    Worker* const worker = idle_.back();
    idle_.pop_back();
    worker->job = std::move(job);
    worker->done = std::promise<void>();
    worker->wake.notify_one();
    return worker->done.get_future();
  }
  auto worker = std::make_unique<Worker>();
  worker->job = std::move(job);
  std::future<void> done = worker->done.get_future();
  Worker& started = *worker;
  workers_.push_back(std::move(worker));
  try {
    started.thread = std::thread([this, &started] { Serve(started); });
  } catch (...) {
    workers_.pop_back();
    throw;
  }
  return done;
}

std::size_t Threads::size() {
  const std::lock_guard lock(mutex_);
  return workers_.size();
}

void Threads::Serve(Worker& worker) {
  std::unique_lock lock(mutex_);
  for (;;) {
    worker.wake.wait(lock, [&worker] { return worker.job || worker.stop; });
    if (!worker.job) {
      return;
    }
    std::function<void()> job = std::move(worker.job);
    worker.job = nullptr;
    lock.unlock();
    std::exception_ptr error;
    try {
      job();
    } catch (...) {
      error = std::current_exception();
    }
    job = nullptr;  // what it holds goes before its end is told
    lock.lock();
    idle_.push_back(&worker);
    error ? worker.done.set_exception(error) : worker.done.set_value();
  }
}

InHand::~InHand() {
  if (done_.valid()) {
    abandoned_ = true;
    done_.wait();
  }
}

void InHand::Start(Threads& threads, const modTally::Server& server,
                   std::function<void(const modTally::Server&)> work) {
  server_ = server;
  server_.cancelled = [this, user = server.cancelled] {
    return abandoned_.load() || (user && user());
  };
  done_ = threads.Run([this, work = std::move(work)] { work(server_); }).share();
}

void InHand::Join() {
  if (done_.valid()) {
    done_.wait();
  }
}

bool InHand::Failed() const {
  try {
    Rethrow();
    return false;
  } catch (...) {
    return true;
  }
}

void InHand::Rethrow() const {
  if (done_.valid()) {
    done_.get();
  }
}

void Posting::Start(Threads& threads, const modTally::Server& server, std::string company,
                    std::function<std::string(const SpooledDocument&)> label) {
  in_hand.Start(
      threads, server,
      [this, company = std::move(company), label = std::move(label)](const modTally::Server& at) {
        sync::Poster poster(at, company, counts);
        finished = poster.Post(
            messages,
            [this](std::size_t begin, std::size_t end, bool accepted, const std::string& reason) {
              decided.push_back({begin, end, accepted, reason});
            },
            [this, &label](std::size_t i) { return label(batch[i]); },
            [this](std::size_t i) { return batch[i].row; });
      });
}

namespace {

// Opened once a range's request has been answered, or will not be sent: the next range's request
// waits for it.
class Turn {
 public:
  void Open() {
    {
      const std::lock_guard lock(mutex_);
      open_ = true;
    }
    opened_.notify_all();
  }
  void Wait() {
    std::unique_lock lock(mutex_);
    opened_.wait(lock, [this] { return open_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable opened_;
  bool open_ = false;
};

}  // namespace

struct ReadAheads::Reading {
  books::DocumentType type{};
  std::string from;
  std::string to;
  std::shared_ptr<Turn> after;  // of the range before, if any
  std::shared_ptr<Turn> answered = std::make_shared<Turn>();
  RangeBooks held;  // written by the thread, read once it is joined
  InHand in_hand;   // last: its thread ends before the members it uses go
};

ReadAheads::ReadAheads(Threads& threads) : threads_(threads) {}

ReadAheads::~ReadAheads() {
  Drop();
}

void ReadAheads::Add(const modTally::Server& server, const std::string& company,
                     books::DocumentType type, const std::string& from, const std::string& to) {
  if (std::any_of(reading_.begin(), reading_.end(), [&](const std::unique_ptr<Reading>& r) {
        return r->type == type && r->from == from && r->to == to;
      })) {
    return;
  }
  auto reading = std::make_unique<Reading>();
  Reading& r = *reading;
  r.type = type;
  r.from = from;
  r.to = to;
  if (!reading_.empty()) {
    r.after = reading_.back()->answered;
  }
  r.in_hand.Start(threads_, server, [&r, company](const modTally::Server& at) {
    // Opened however the reading ends: a range after this one never waits for nothing.
    struct OpenOnExit {
      Turn& turn;
      ~OpenOnExit() { turn.Open(); }
    } const opens{*r.answered};
    if (r.after) {
      r.after->Wait();
    }
    r.held = ReadBooks(at, company, r.type, r.from, r.to, [&r] { r.answered->Open(); });
  });
  reading_.push_back(std::move(reading));
}

std::optional<RangeBooks> ReadAheads::Take(books::DocumentType type, const std::string& from,
                                           const std::string& to) {
  if (reading_.empty()) {
    return std::nullopt;
  }
  const std::unique_ptr<Reading> first = std::move(reading_.front());
  reading_.pop_front();
  first->in_hand.Join();
  if (first->type != type || first->from != from || first->to != to) {
    Drop();
    return std::nullopt;
  }
  first->in_hand.Rethrow();
  return std::move(first->held);
}

void ReadAheads::Join() {
  for (const std::unique_ptr<Reading>& reading : reading_) {
    reading->in_hand.Join();
  }
}

void ReadAheads::Drop() {
  // Every range is abandoned before any is waited for: one waiting its turn then ends as soon as
  // the range before it does, without sending its request.
  for (const std::unique_ptr<Reading>& reading : reading_) {
    reading->in_hand.Abandon();
  }
  reading_.clear();
}

}  // namespace lirvo::feed
