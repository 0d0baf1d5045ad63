// Posting batches to the books, halving the rejected ones.
#include <lirvo/sync/post.h>

#include <chrono>
#include <optional>
#include <thread>

#include <lirvo/books/judge.h>
#include <lirvo/books/sales.h>

namespace lirvo::sync {

using books::ImportOutcome;
using books::ImportVerdict;
using books::JudgeImport;
using books::SentObjects;

namespace {

using modTally::Failure;

constexpr std::string_view kNotImport = "the server's reply is not an import response: ";

}  // namespace

Poster::Poster(const modTally::Server& server, const std::string& company, PostCounts& counts,
               Waiting waiting)
    : server_(server),
      counts_(counts),
      head_(modTally::ImportRequestHead(company)),
      limits_(server.Import()) {
  // A request in hand is abandoned as soon as the run is interrupted (the server's flag).
  waiting_ = std::move(waiting);
}

bool Poster::Post(std::span<const std::string> messages, const Decided& decided, const Label& label,
                  const Row& row) {
  return Part({messages, label, row}, 0, messages.size(), false, decided);
}

// "200 vouchers (rows 1-200)", "voucher \"V7\" (row 7)", "13 masters".
std::string Poster::Described(const Batch& batch, std::size_t begin, std::size_t end) {
  if (end - begin == 1) {
    return batch.label(begin);
  }
  const bool vouchers = static_cast<bool>(batch.row);
  std::string text = std::to_string(end - begin) + (vouchers ? " vouchers" : " masters");
  if (vouchers) {
    text += " (rows " + std::to_string(batch.row(begin)) + "-" +
            std::to_string(batch.row(end - 1)) + ")";
  }
  return text;
}

bool Poster::Interrupted() const {
  return server_.Cancelled();
}

// Long: one request: sent, retried, judged and split, its outcomes recorded together.
bool Poster::Part(const Batch& batch, std::size_t begin, std::size_t end, bool split,
                  const Decided& decided) {
  if (begin == end) {
    return true;
  }
  if (Interrupted()) {
    return false;
  }
  // The request is sent from its pieces where they are: a batch's messages run to megabytes.
  body_.clear();
  body_.push_back(head_);
  for (std::size_t i = begin; i < end; ++i) {
    body_.push_back(batch.messages[i]);
  }
  body_.push_back(modTally::kImportRequestTail);
  const long objects = static_cast<long>(end - begin);
  SentObjects sent{objects, 0, {}};
  if (objects == 1) {
    sent.only = batch.label(begin);
  }
  if (waiting_) {
    limits_.waiting = [this, objects](double seconds) {
      waiting_(std::chrono::duration<double>(seconds), objects);
    };
  }
  // Only a rejection the server states is a row's fault. A request that fails, times out or is
  // answered with something that is not an import reply says nothing about its rows: it is tried
  // once more, and then the run stops, since the next request would fare no better.
  std::string trouble;
  int number = modTally::FailureNumber::kHttpStatus;
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (attempt > 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(250));
      if (Interrupted()) {
        return false;
      }
    }
    ++counts_.requests;
    counts_.split_requests += split ? 1 : 0;
    std::optional<modTally::Reply> reply;
    try {
      reply = modTally::Exchange(server_, std::span<const std::string_view>(body_), limits_);
    } catch (const Failure& error) {
      if (Interrupted()) {
        return false;
      }
      trouble = "failed: " + error.description();
      number = error.number();
      continue;
    }
    const ImportVerdict verdict = JudgeImport(*reply, sent);
    if (verdict.outcome == ImportOutcome::kAccepted) {
      decided(begin, end, true, {});
      return true;
    }
    if (verdict.outcome == ImportOutcome::kRejected) {
      if (objects == 1) {
        decided(begin, end, false, verdict.reason);
        return true;
      }
      const std::size_t middle = begin + (end - begin) / 2;
      return Part(batch, begin, middle, true, decided) && Part(batch, middle, end, true, decided);
    }
    std::string_view what = verdict.reason;
    if (what.starts_with(kNotImport)) {
      what.remove_prefix(kNotImport.size());
    }
    number = modTally::FailureNumber::kHttpStatus;
    trouble = "was answered with something that is not an import reply (" + std::string(what) + ")";
  }
  throw Stopped(number, "the import of " + Described(batch, begin, end) + " at " +
                            modTally::ShownUrl(server_.url) + " " + trouble +
                            " (tried twice); nothing after it was sent");
}

}  // namespace lirvo::sync
