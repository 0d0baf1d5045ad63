// The sync: the company's masters read beside one streaming pass over the table, the books read
// back and every row decided against them and the journal, then the missing masters and the
// vouchers in batches, every outcome recorded in the journal as soon as the server has answered.
// One class whose steps share the run's state, in the order they happen (a little over 400 lines).
#include <lirvo/sync.h>
#include <lirvo/sync/fed_journal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <future>
#include <optional>
#include <span>
#include <string>
#include <unordered_set>
#include <vector>

#include <lirvo/text.h>

#include <lirvo/sync/post.h>
#include <lirvo/verify/run.h>
#include "journal.h"
#include "sync_masters.h"

namespace lirvo::sync {

using books::AppendSalesVoucherMessage;
using books::SalesRow;
using books::VoucherForm;
using books::Windows1252Loss;
using verify::FieldDifference;
using verify::Finding;
using verify::VerifyOptions;
using verify::VerifySummary;

namespace {

using modTally::Failure;
namespace FailureNumber = modTally::FailureNumber;
using Clock = std::chrono::steady_clock;
using detail::MasterKind;

}  // namespace

namespace {

// The masters the company lacks, in dependency order.
struct Missing {
  MasterKind kind;
  const verify::Needs::Need* need;
  MasterCounts* counts;
};

std::vector<Missing> MissingMasters(verify::Run& run, const detail::HeldMasters& held,
                                    SyncSummary& summary) {
  std::vector<Missing> missing;
  const auto count = [&missing](MasterKind kind, const verify::Needs& needs,
                                const std::unordered_set<std::string>& holds,
                                MasterCounts& counts) {
    counts.needed = static_cast<long>(needs.all().size());
    for (const verify::Needs::Need& need : needs.all()) {
      if (holds.count(text::FoldCase(need.name))) {
        ++counts.present;
      } else {
        missing.push_back({kind, &need, &counts});
      }
    }
  };
  count(MasterKind::kUnit, run.units(), held.units, summary.units);
  count(MasterKind::kLedger, run.ledgers(), held.ledgers, summary.ledgers);
  count(MasterKind::kItem, run.items(), held.items, summary.items);
  return missing;
}

// "amount: 1040 in the source, 1000 in the books; date: ..."
std::string Differences(const std::vector<FieldDifference>& differences) {
  std::string text = "the books hold this voucher otherwise (";
  for (std::size_t i = 0; i < differences.size(); ++i) {
    const FieldDifference& d = differences[i];
    text += (i ? "; " : "") + d.field + ": \"" + d.source + "\" in the source, \"" + d.books +
            "\" in the books";
  }
  return text + "); left alone, --overwrite sends the source's version";
}

// One sync: the table scanned once (the verification's scan), the books read back, each row
// decided, then the missing masters and the vouchers to send posted.
class SyncRun {
 public:
  explicit SyncRun(const SyncOptions& options)
      : options_(options),
        journal_(options.journal, options.dry_run, modTally::ShownUrl(options.server.url),
                 options.company),
        scan_(Checking(options)),
        run_(scan_, checked_, Scanning(options, this)) {
    summary_.dry_run = options.dry_run;
  }

  SyncSummary Go();

 private:
  static VerifyOptions Checking(const SyncOptions& options);
  static verify::Scan Scanning(const SyncOptions& options, SyncRun* run);
  void Show(SyncPhase phase, long done, long total) {
    last_shown_ = {phase, done, total};
    if (options_.progress) {
      options_.progress(last_shown_);
    }
  }
  bool Interrupted() const { return options_.server.Cancelled(); }
  void Reject(const SyncRejection& rejection) {
    if (rejection.differs_in_books) {
      ++summary_.differ_in_books;
    } else {
      (rejection.local ? summary_.rejected_locally : summary_.rejected_by_server) += 1;
    }
    if (options_.rejected) {
      options_.rejected(rejection);
    }
  }
  // Reads the table and the books; false when the run ends there.
  bool Read(std::future<detail::HeldMasters>& preflight);
  // Whether the row is to be sent.
  bool Decide(const verify::CheckedRow& checked);
  bool ToSend(long number);
  void Send(const std::vector<Missing>& missing);
  // Each returns false when interrupted.
  bool SendMasters(Poster& poster, const std::vector<Missing>& missing);
  bool SendVouchers(Poster& poster, long& unsent);

  const SyncOptions& options_;
  SyncSummary summary_;
  detail::Journal journal_;
  VerifyOptions scan_;
  VerifySummary checked_;
  verify::Run run_;
  long to_send_ = 0;
  std::string message_;
  std::vector<std::string> messages_;  // of the batch being sent
  std::vector<std::string> digests_;   // of messages_, as they are computed
  SyncProgress last_shown_;            // told again, with the wait, while a request is in hand
  // Set when the table cannot be read: the pre-flight's queries are abandoned, so that the
  // failure is reported at once rather than after their wait.
  std::atomic<bool> reading_failed_{false};
};

VerifyOptions SyncRun::Checking(const SyncOptions& options) {
  VerifyOptions check;
  check.server = options.server;
  check.company = options.company;
  check.database = options.database;
  check.rows = options.rows;
  check.progress = options.progress;
  return check;
}

verify::Scan SyncRun::Scanning(const SyncOptions& options, SyncRun* run) {
  verify::Scan scan;
  scan.row_limit = options.row_limit;
  scan.read_masters = false;
  if (options.server.encoding == modTally::WireEncoding::kUtf8) {
    scan.check = Windows1252Loss;
  }
  if (options.trust_journal) {
    // Without the books, each row is decided as it is read.
    scan.each = [run](const verify::CheckedRow& checked) { return run->Decide(checked); };
  }
  return scan;
}

bool SyncRun::Read(std::future<detail::HeldMasters>& preflight) {
  try {
    journal_.Begin();
    run_.Load();
    journal_.Commit();
    summary_.rows = checked_.rows;
    summary_.books_checked = !options_.trust_journal && !checked_.interrupted;
    if (summary_.books_checked) {
      run_.Compare();
    }
  } catch (const Failure& failure) {
    reading_failed_ = true;
    if (Interrupted()) {
      summary_.interrupted = true;  // the read-back's request in hand was abandoned
      summary_.skipped = summary_.rows;
    } else {
      summary_.stopped = (summary_.books_checked ? "cannot check the books: " : "") +
                         failure.description() + "; nothing was sent";
    }
    preflight.wait();
    return false;
  }
  if (checked_.interrupted) {
    summary_.interrupted = true;
    summary_.skipped = summary_.rows;
    return false;
  }
  run_.ForEachRefused([this](const Finding& refused) {
    Reject({refused.voucher_id, refused.row, refused.source, true});
  });
  if (summary_.books_checked) {
    journal_.Begin();
    run_.ForEachChecked([this](const verify::CheckedRow& checked) { Decide(checked); });
    journal_.Commit();
    journal_.RecordInBooks();
  }
  return true;
}

bool SyncRun::Decide(const verify::CheckedRow& checked) {
  const SalesRow& row = checked.row;
  const std::string& id = *row.VoucherID;
  if (summary_.books_checked && checked.missing) {
    // Sent whatever the journal says, so its message is built once, when sent (the local checks
    // accepted the row, and a row they accept can be built).
    const std::optional<detail::Journal::Entry> entry = journal_.Find(id);
    summary_.missing_in_books += entry && entry->accepted ? 1 : 0;
    return ToSend(checked.number);
  }
  message_.clear();
  try {
    AppendSalesVoucherMessage(message_, row, VoucherForm::kInvoice);
  } catch (const Failure& failure) {
    Reject({id, checked.number, failure.description(), true});
    return false;
  }
  const std::string digest = Digest(message_);
  if (summary_.books_checked && checked.differences.empty()) {
    // In the books as in the source: the journal learns it where it says otherwise.
    journal_.NoteInBooks(id, digest);
    ++summary_.unchanged;
    return false;
  }
  const std::optional<detail::Journal::Entry> entry = journal_.Find(id);
  const bool accepted_as_is = entry && entry->accepted && entry->digest == digest;
  if (!summary_.books_checked) {
    if (accepted_as_is) {
      ++summary_.unchanged;
      return false;
    }
    return ToSend(checked.number);
  }
  if (options_.overwrite || (entry && entry->accepted && !accepted_as_is)) {
    // Overwritten on request, or changed in the source since the books took it.
    return ToSend(checked.number);
  }
  Reject({id, checked.number, Differences(checked.differences), false, true});
  return false;
}

bool SyncRun::ToSend(long number) {
  run_.ToSend(number);
  ++to_send_;
  return true;
}

SyncSummary SyncRun::Go() {
  const Clock::time_point start = Clock::now();
  const auto finish = [&] {
    summary_.time = Clock::now() - start;
    return summary_;
  };
  // Pre-flight: what the company holds, read on a thread of its own while the table is read;
  // abandoned when the run is interrupted or the table cannot be read.
  modTally::ExchangeLimits preflight_limits = options_.server.queries;
  preflight_limits.cancelled = [this] { return reading_failed_.load() || Interrupted(); };
  std::future<detail::HeldMasters> preflight =
      std::async(std::launch::async, [this, &preflight_limits] {
        return detail::ReadHeldMasters(options_.server, options_.company, preflight_limits);
      });
  if (!Read(preflight)) {
    return finish();
  }
  std::optional<detail::HeldMasters> held;
  try {
    held = preflight.get();
  } catch (const Failure& failure) {
    // An interrupt abandons the queries: then the run ends as interrupted, not stopped.
    if (Interrupted()) {
      summary_.interrupted = true;
    } else {
      summary_.stopped = failure.description();
    }
    summary_.skipped = to_send_;
    return finish();
  }
  const std::vector<Missing> missing = MissingMasters(run_, *held, summary_);
  if (options_.dry_run) {
    for (const Missing& m : missing) {
      ++m.counts->created;
    }
    summary_.accepted = to_send_;
    return finish();
  }
  Send(missing);
  return finish();
}

void SyncRun::Send(const std::vector<Missing>& missing) {
  PostCounts counts;
  Poster poster(options_.server, options_.company, counts,
                [this](std::chrono::duration<double> waited, long objects) {
                  if (options_.progress) {
                    SyncProgress waiting = last_shown_;
                    waiting.waiting = waited;
                    waiting.batch = objects;
                    options_.progress(waiting);
                  }
                });
  long unsent = to_send_;
  try {
    if (!SendMasters(poster, missing) || !SendVouchers(poster, unsent)) {
      summary_.interrupted = true;
    }
  } catch (const Failure& failure) {
    summary_.stopped = failure.description();
  }
  summary_.requests += counts.requests;
  summary_.split_requests += counts.split_requests;
  summary_.skipped = unsent;
}

bool SyncRun::SendMasters(Poster& poster, const std::vector<Missing>& missing) {
  long done = 0;
  const long total = static_cast<long>(missing.size());
  const auto batch_size = static_cast<std::size_t>(options_.batch);
  Show(SyncPhase::kMasters, 0, total);
  for (std::size_t first = 0; first < missing.size(); first += batch_size) {
    const std::size_t last = std::min(missing.size(), first + batch_size);
    std::vector<std::string> messages;
    messages.reserve(last - first);
    for (std::size_t i = first; i < last; ++i) {
      const verify::Needs::Need& need = *missing[i].need;
      messages.push_back(MasterMessage(missing[i].kind, need.name, need.detail));
    }
    const auto label = [&](std::size_t i) {
      return "master \"" + missing[first + i].need->name + "\"";
    };
    const bool finished = poster.Post(
        messages,
        [&](std::size_t begin, std::size_t end, bool accepted, const std::string& why) {
          for (std::size_t i = begin; i < end; ++i) {
            MasterCounts& counts = *missing[first + i].counts;
            (accepted ? counts.created : counts.failed) += 1;
            if (!accepted && summary_.master_failures.size() < 10) {
              summary_.master_failures.push_back(label(i) + ": " + why);
            }
          }
          done += static_cast<long>(end - begin);
          Show(SyncPhase::kMasters, done, total);
        },
        label);
    if (!finished) {
      return false;
    }
  }
  return true;
}

bool SyncRun::SendVouchers(Poster& poster, long& unsent) {
  long done = 0;
  Show(SyncPhase::kVouchers, 0, to_send_);
  long after = 0;
  for (;;) {
    std::vector<verify::SpooledRow> batch = run_.ToSendAfter(after, options_.batch);
    if (batch.empty()) {
      return true;
    }
    after = batch.back().number;
    // The messages, each with the digest the journal records; their strings are reused from
    // batch to batch.
    messages_.resize(std::max(messages_.size(), batch.size()));
    for (std::size_t i = 0; i < batch.size(); ++i) {
      messages_[i].clear();
      AppendSalesVoucherMessage(messages_[i], batch[i].row, VoucherForm::kInvoice);
    }
    digests_.clear();
    AppendDigests(std::span<const std::string>(messages_).first(batch.size()), digests_);
    for (std::size_t i = 0; i < batch.size(); ++i) {
      batch[i].digest = std::move(digests_[i]);
    }
    const auto label = [&batch](std::size_t i) {
      return "voucher \"" + *batch[i].row.VoucherID + "\" (row " + std::to_string(batch[i].number) +
             ")";
    };
    const bool finished = poster.Post(
        std::span(messages_).first(batch.size()),
        [&](std::size_t begin, std::size_t end, bool accepted, const std::string& why) {
          const auto part = std::span(batch).subspan(begin, end - begin);
          try {
            journal_.Record(part, accepted, why);
          } catch (const Failure& failure) {
            throw Unrecorded(failure, accepted,
                             "rows " + std::to_string(part.front().number) + " to " +
                                 std::to_string(part.back().number));
          }
          for (const verify::SpooledRow& voucher : part) {
            if (accepted) {
              ++summary_.accepted;
            } else {
              Reject({*voucher.row.VoucherID, voucher.number, why, false});
            }
          }
          done += static_cast<long>(part.size());
          unsent -= static_cast<long>(part.size());
          Show(SyncPhase::kVouchers, done, to_send_);
        },
        label, [&batch](std::size_t i) { return batch[i].number; });
    if (!finished) {
      return false;
    }
  }
}

}  // namespace

SyncSummary Sync(const SyncOptions& options) {
  if (text::Trim(options.company).empty()) {
    throw Failure(FailureNumber::kValue, "the sync needs a company to send to");
  }
  if (options.batch < 1 || options.batch > kLargestBatch) {
    throw Failure(FailureNumber::kValue,
                  "the batch size must be between 1 and " + std::to_string(kLargestBatch));
  }
  return SyncRun(options).Go();
}

}  // namespace lirvo::sync
