// The sync: pre-flight, one streaming pass over the table, the missing masters, then the vouchers
// in batches, every outcome recorded in the journal as soon as the server has answered.
#include <lirvo/sync.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <future>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include <lirvo/text.h>

#include "journal.h"
#include "sync_masters.h"
#include "sync_post.h"

namespace lirvo::transfer {

namespace {

using modTally::Failure;
namespace FailureNumber = modTally::FailureNumber;
using Clock = std::chrono::steady_clock;
using detail::Item;
using detail::MasterKind;
using detail::Need;
using detail::Needs;
using detail::Poster;
using detail::ReadMasters;

}  // namespace

std::filesystem::path DefaultJournalPath() {
  const char* state = std::getenv("XDG_STATE_HOME");
  std::filesystem::path base;
  if (state && *state && std::filesystem::path(state).is_absolute()) {
    base = state;
  } else {
    const char* home = std::getenv("HOME");
    base = std::filesystem::path(home && *home ? home : ".") / ".local" / "state";
  }
  return base / "lirvo" / "sync-journal.sqlite";
}

int SyncSummary::ExitStatus() const {
  if (interrupted) {
    return 130;
  }
  if (stopped) {
    return 1;
  }
  const long failed =
      rejected_locally + rejected_by_server + units.failed + ledgers.failed + items.failed;
  return failed > 0 ? 3 : 0;
}

SyncSummary Sync(const SyncOptions& options) {
  if (text::Trim(options.company).empty()) {
    throw Failure(FailureNumber::kValue, "the sync needs a company to send to");
  }
  if (options.batch < 1 || options.batch > kLargestBatch) {
    throw Failure(FailureNumber::kValue,
                  "the batch size must be between 1 and " + std::to_string(kLargestBatch));
  }
  const Clock::time_point start = Clock::now();
  SyncSummary summary;
  summary.dry_run = options.dry_run;
  SyncProgress last_shown;  // told again, with the wait, while a request is in hand
  const auto show = [&](SyncPhase phase, long done, long total) {
    last_shown = {phase, done, total};
    if (options.progress) {
      options.progress(last_shown);
    }
  };
  const auto interrupted = [&] { return options.interrupted && options.interrupted(); };
  const auto reject = [&](const SyncRejection& rejection) {
    (rejection.local ? summary.rejected_locally : summary.rejected_by_server) += 1;
    if (options.rejected) {
      options.rejected(rejection);
    }
  };
  const auto finish = [&] {
    summary.time = Clock::now() - start;
    return summary;
  };

  detail::Journal journal(options.journal, options.dry_run, options.url, options.company);

  // Pre-flight: what the company holds, read on a thread of its own while the table is read
  // (those three queries are the only requests until the reading is done).
  struct Held {
    std::unordered_set<std::string> units, ledgers, items;
  };
  // The queries are abandoned when the run is interrupted or the local reading fails.
  std::atomic<bool> reading_failed{false};
  modTally::ExchangeLimits preflight_limits = options.query_limits;
  preflight_limits.cancelled = [&reading_failed, &interrupted] {
    return reading_failed.load() || interrupted();
  };
  std::future<Held> preflight = std::async(std::launch::async, [&options, &preflight_limits] {
    Held held;
    held.units = ReadMasters(options.url, options.company, "Units", "UNIT", preflight_limits);
    held.ledgers = ReadMasters(options.url, options.company, "Ledgers", "LEDGER", preflight_limits);
    held.items =
        ReadMasters(options.url, options.company, "Stock Items", "STOCKITEM", preflight_limits);
    return held;
  });
  // Waits for the pre-flight; its failure stops the run.
  const auto preflight_done = [&]() -> std::optional<Held> {
    try {
      return preflight.get();
    } catch (const Failure& failure) {
      // An interrupt abandons the queries: then the run ends as interrupted, not stopped.
      if (interrupted()) {
        summary.interrupted = true;
      } else {
        summary.stopped = failure.description();
      }
      return std::nullopt;
    }
  };

  // One pass over the table: local checks, needed masters, digests, the spool.
  Needs unit_needs, ledger_needs, item_needs;
  long to_send = 0;
  std::optional<SalesSource> source;
  try {
    source.emplace(options.database);
    summary.rows = options.row_limit > 0 ? std::min(options.row_limit, source->RowCount())
                                         : source->RowCount();
    show(SyncPhase::kReading, 0, summary.rows);
    journal.Begin();
    std::string message;
    while ((options.row_limit <= 0 || source->number() < options.row_limit) && source->Next()) {
      const SalesRow& row = source->row();
      const long number = source->number();
      if (number % 256 == 0) {
        show(SyncPhase::kReading, number - 1, summary.rows);
        if (interrupted()) {
          summary.interrupted = true;
          break;
        }
      }
      std::optional<std::string> reason = LocalCheck(row);
      message.clear();
      if (!reason) {
        try {
          AppendSalesVoucherMessage(message, row);
        } catch (const Failure& failure) {
          reason = failure.description();
        }
      }
      if (!reason) {
        if (const std::optional<long> first = journal.Seen(*row.VoucherID, number)) {
          reason = "VoucherID \"" + *row.VoucherID + "\" is also on row " + std::to_string(*first) +
                   ", and a VoucherID names one voucher";
        }
      }
      if (reason) {
        reject({row.VoucherID.value_or(""), number, *reason, true});
        continue;
      }
      unit_needs.Note(*row.Unit, {});
      ledger_needs.Note(*row.PartyName, "Sundry Debtors");
      ledger_needs.Note(*row.SalesLedger, "Sales Accounts");
      ledger_needs.Note(*row.TaxAc, "Duties & Taxes");
      item_needs.Note(*row.ItemName, *row.Unit);
      const std::string digest = Digest(message);
      const std::optional<detail::Journal::Entry> entry = journal.Find(*row.VoucherID);
      if (entry && entry->accepted && entry->digest == digest) {
        ++summary.unchanged;
        continue;
      }
      journal.Spool(number, *row.VoucherID, digest, message);
      ++to_send;
    }
    journal.Commit();
    show(SyncPhase::kReading, source->number(), summary.rows);
  } catch (const Failure& failure) {
    summary.stopped = failure.description();
    summary.skipped = summary.rows - (source ? source->number() : 0);
    reading_failed = true;  // reported at once, not after the pre-flight's wait
    preflight.wait();
    return finish();
  }
  source.reset();
  const std::optional<Held> held = preflight_done();
  if (!held) {
    summary.skipped = to_send;
    return finish();
  }
  const auto& [units, ledgers, items] = *held;

  // The masters the company lacks, in dependency order.
  struct Missing {
    MasterKind kind;
    const Need* need;
    MasterCounts* counts;
  };
  std::vector<Missing> missing;
  const auto count_missing = [&](MasterKind kind, const Needs& needs,
                                 const std::unordered_set<std::string>& holds,
                                 MasterCounts& counts) {
    counts.needed = static_cast<long>(needs.all().size());
    for (const Need& need : needs.all()) {
      if (holds.count(text::FoldCase(need.name))) {
        ++counts.present;
      } else {
        missing.push_back({kind, &need, &counts});
      }
    }
  };
  count_missing(MasterKind::kUnit, unit_needs, units, summary.units);
  count_missing(MasterKind::kLedger, ledger_needs, ledgers, summary.ledgers);
  count_missing(MasterKind::kItem, item_needs, items, summary.items);

  if (options.dry_run || summary.interrupted) {
    if (options.dry_run) {
      for (const Missing& m : missing) {
        ++m.counts->created;
      }
      summary.accepted = to_send;
    } else {
      summary.skipped = summary.rows - summary.rejected_locally - summary.unchanged;
    }
    return finish();
  }

  Poster poster(options, summary, [&](std::chrono::duration<double> waited, long objects) {
    if (options.progress) {
      SyncProgress waiting = last_shown;
      waiting.waiting = waited;
      waiting.batch = objects;
      options.progress(waiting);
    }
  });
  long skipped_vouchers = to_send;
  try {
    // Masters, batch by batch.
    long masters_done = 0;
    show(SyncPhase::kMasters, 0, static_cast<long>(missing.size()));
    for (std::size_t first = 0; first < missing.size();
         first += static_cast<std::size_t>(options.batch)) {
      const std::size_t last =
          std::min(missing.size(), first + static_cast<std::size_t>(options.batch));
      std::vector<std::string> messages;
      std::vector<Item> batch;
      messages.reserve(last - first);
      for (std::size_t i = first; i < last; ++i) {
        messages.push_back(MasterMessage(missing[i].kind, *missing[i].need, options.company));
      }
      for (std::size_t i = first; i < last; ++i) {
        batch.push_back({"master \"" + missing[i].need->name + "\"", &messages[i - first]});
      }
      const bool finished = poster.Post(
          batch, [&](std::size_t begin, std::size_t end, bool accepted, const std::string& why) {
            for (std::size_t i = begin; i < end; ++i) {
              MasterCounts& counts = *missing[first + i].counts;
              (accepted ? counts.created : counts.failed) += 1;
              if (!accepted && summary.master_failures.size() < 10) {
                summary.master_failures.push_back(batch[i].label + ": " + why);
              }
            }
            masters_done += static_cast<long>(end - begin);
            show(SyncPhase::kMasters, masters_done, static_cast<long>(missing.size()));
          });
      if (!finished) {
        summary.interrupted = true;
        summary.skipped = to_send;
        return finish();
      }
    }

    // Vouchers, batch by batch from the spool.
    long vouchers_done = 0;
    show(SyncPhase::kVouchers, 0, to_send);
    std::int64_t after = 0;
    for (;;) {
      const std::vector<detail::Spooled> spooled = journal.SpooledAfter(after, options.batch);
      if (spooled.empty()) {
        break;
      }
      after = spooled.back().seq;
      std::vector<Item> batch;
      batch.reserve(spooled.size());
      for (const detail::Spooled& voucher : spooled) {
        batch.push_back(
            {"voucher \"" + voucher.voucher_id + "\" (row " + std::to_string(voucher.row) + ")",
             &voucher.message, voucher.row});
      }
      const bool finished = poster.Post(
          batch, [&](std::size_t begin, std::size_t end, bool accepted, const std::string& why) {
            std::vector<const detail::Spooled*> part;
            for (std::size_t i = begin; i < end; ++i) {
              part.push_back(&spooled[i]);
            }
            journal.Record(part, accepted, why);
            for (const detail::Spooled* voucher : part) {
              if (accepted) {
                ++summary.accepted;
              } else {
                reject({voucher->voucher_id, voucher->row, why, false});
              }
            }
            vouchers_done += static_cast<long>(part.size());
            skipped_vouchers -= static_cast<long>(part.size());
            show(SyncPhase::kVouchers, vouchers_done, to_send);
          });
      if (!finished) {
        summary.interrupted = true;
        break;
      }
    }
  } catch (const Failure& failure) {
    summary.stopped = failure.description();
  }
  summary.skipped = skipped_vouchers;
  return finish();
}

}  // namespace lirvo::transfer
