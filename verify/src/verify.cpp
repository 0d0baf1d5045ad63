// The verification: the table streamed once into the spool, the books' masters checked against
// what the rows need, the books read back range by range (verify_ranges.cpp), the findings handed
// out in row order at the end; and the summary for people.
#include <lirvo/text.h>
#include <lirvo/verify.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <utility>

#include <lirvo/verify/run.h>
#include "verify_compare.h"

namespace lirvo::verify {

using books::BooksMaster;
using books::FetchMasters;
using books::IsCalendarDate;
using books::LocalCheck;
using books::MasterType;
using books::SalesRow;
using books::SalesSource;

void Needs::Note(const std::optional<std::string>& name, std::string_view detail, long row,
                 const std::string& voucher_id, bool in_range) {
  const std::string_view trimmed = name ? text::Trim(*name) : std::string_view();
  key_.assign(trimmed);
  for (char& c : key_) {
    c = text::LowerAscii(c);
  }
  auto at = seen_.find(key_);
  if (at == seen_.end()) {
    at = seen_.emplace(key_, all_.size()).first;
    all_.push_back({std::string(trimmed), std::string(detail), 0, {}});
  }
  Need& need = all_[at->second];
  if (in_range && need.row == 0) {
    need.row = row;
    need.voucher_id = voucher_id;
  }
}

Run::Run(const VerifyOptions& options, VerifySummary& summary, Scan scan)
    : options_(options), summary_(summary), scan_(std::move(scan)) {
  if (!scan_.read_masters) {
    return;
  }
  // The books' masters are read while the table is.
  masters_ = std::async(std::launch::async, [&options] {
    BooksMasters masters;
    int i = 0;
    for (const MasterType type : {MasterType::kUnit, MasterType::kLedger, MasterType::kStockItem}) {
      masters[static_cast<std::size_t>(i++)] =
          FetchMasters(options.server, options.company, type, options.server.Query());
    }
    return masters;
  });
}

// Long: one streaming pass over the table: each row checked, noted and spooled.
void Run::Load() {
  SalesSource source = options_.rows ? SalesSource(*options_.rows) : SalesSource(options_.database);
  summary_.rows =
      scan_.row_limit > 0 ? std::min(scan_.row_limit, source.RowCount()) : source.RowCount();
  Show(SyncPhase::kReading, 0, summary_.rows);
  sqlite::Transaction loading = spool_.Begin();
  while ((scan_.row_limit <= 0 || source.number() < scan_.row_limit) && source.Next()) {
    const SalesRow& row = source.Normalize();
    const long number = source.number();
    if (number % 256 == 0) {
      Show(SyncPhase::kReading, number - 1, summary_.rows);
      if (options_.server.Cancelled()) {
        summary_.interrupted = true;
        return;
      }
    }
    // The sync's own rules: the local checks, then one voucher per VoucherID (the first row).
    std::optional<std::string> reason = LocalCheck(row);
    if (!reason && scan_.check) {
      reason = scan_.check(row);
    }
    if (!reason) {
      if (const std::optional<long> first = spool_.FirstAccepted(*row.VoucherID)) {
        reason = "VoucherID \"" + *row.VoucherID + "\" is also on row " + std::to_string(*first) +
                 ", and a VoucherID names one voucher";
      }
    }
    bool needs = !reason;
    if (scan_.each && !reason) {
      // Decided at once, without the comparison: of a row not to be sent, only what the
      // duplicates check needs is kept.
      needs = scan_.each(CheckedRow{number, row, false, {}});
      if (needs) {
        spool_.AddRow(number, row, reason);
      } else {
        spool_.AddKey(number, *row.VoucherID);
      }
    } else {
      spool_.AddRow(number, row, reason);
    }
    if (needs) {
      const std::string& date = *row.VoucherDate;
      const bool in_range = (options_.from.empty() || date >= options_.from) &&
                            (options_.to.empty() || date <= options_.to);
      const std::string& id = *row.VoucherID;
      units_.Note(row.Unit, "", number, id, in_range);
      ledgers_.Note(row.PartyName, "Sundry Debtors", number, id, in_range);
      ledgers_.Note(row.SalesLedger, "Sales Accounts", number, id, in_range);
      ledgers_.Note(row.TaxAc, "Duties & Taxes", number, id, in_range);
      items_.Note(row.ItemName, Plain(row.Unit), number, id, in_range);
    }
    if (reason) {
      Find(number, row.VoucherID.value_or(""), Outcome::kNotExpected, "local checks", *reason, "");
    }
  }
  spool_.IndexDates();
  loading.Commit();
  Show(SyncPhase::kReading, summary_.rows, summary_.rows);

  // The range: as given, else the source's first and last date.
  const auto [first, last] = spool_.Span();
  summary_.from = options_.from.empty() ? first : options_.from;
  summary_.to = options_.to.empty() ? last : options_.to;
  // One end given beyond the source's dates (or no usable row): the range is that one day.
  if (options_.to.empty() && (summary_.to.empty() || summary_.to < summary_.from)) {
    summary_.to = summary_.from;
  }
  if (options_.from.empty() && (summary_.from.empty() || summary_.from > summary_.to)) {
    summary_.from = summary_.to;
  }
}

void Run::Masters() {
  Show(SyncPhase::kBooksMasters, 0, 3);
  const BooksMasters masters = masters_.get();
  summary_.requests += 3;
  Show(SyncPhase::kBooksMasters, 3, 3);
  const struct {
    const Needs& needs;
    const std::vector<BooksMaster>& held;
    const char* what;
    const char* detail;
  } kinds[] = {{units_, masters[0], "unit", ""},
               {ledgers_, masters[1], "ledger", "parent of ledger "},
               {items_, masters[2], "stock item", "unit of stock item "}};
  for (const auto& kind : kinds) {
    std::unordered_map<std::string, const BooksMaster*> held;
    for (const BooksMaster& master : kind.held) {
      held.emplace(text::FoldCase(master.name), &master);
    }
    for (const Needs::Need& need : kind.needs.all()) {
      if (need.row == 0) {
        continue;  // needed only by rows outside the range
      }
      ++summary_.masters_needed;
      const auto found = held.find(text::FoldCase(need.name));
      if (found == held.end()) {
        ++summary_.masters_missing;
        Find(need.row, need.voucher_id, Outcome::kMasterMissing, kind.what,
             need.detail.empty() ? need.name : need.name + " (" + need.detail + ")", "");
        continue;
      }
      const std::string& books =
          &kind.needs == &items_ ? found->second->base_units : found->second->parent;
      if (!need.detail.empty() && !SameName(need.detail, books)) {
        ++summary_.masters_different;
        Find(need.row, need.voucher_id, Outcome::kMasterDifferent, kind.detail + need.name,
             need.detail, books);
      }
    }
  }
}

void Run::ForEachChecked(const std::function<void(const CheckedRow&)>& each) {
  // What `each` notes in the spool (the rows to send) goes in one transaction.
  sqlite::Transaction noting = spool_.Begin();
  spool_.ForEachChecked(each);
  noting.Commit();
}

void Run::ForEachRefused(const std::function<void(const Finding&)>& each) {
  spool_.ForEachFinding(each, Outcome::kNotExpected);
}

void Run::Emit() {
  summary_.not_expected = spool_.CountFindings(Outcome::kNotExpected);
  summary_.missing = spool_.CountFindings(Outcome::kMissing);
  summary_.different = spool_.CountRows(Outcome::kDifferent);
  summary_.not_in_source = spool_.CountFindings(Outcome::kNotInSource);
  if (options_.finding) {
    spool_.ForEachFinding(options_.finding);
  }
}

namespace {

using modTally::Failure;
namespace FailureNumber = modTally::FailureNumber;
using Clock = std::chrono::steady_clock;

}  // namespace

std::string_view OutcomeName(Outcome outcome) {
  switch (outcome) {
    case Outcome::kMissing:
      return "missing";
    case Outcome::kDifferent:
      return "different";
    case Outcome::kNotInSource:
      return "not in source";
    case Outcome::kNotExpected:
      return "not expected";
    case Outcome::kMasterMissing:
      return "master missing";
    case Outcome::kMasterDifferent:
      return "master different";
  }
  return "";
}

RunOutcome VerifySummary::outcome() const {
  if (interrupted) {
    return RunOutcome::kInterrupted;
  }
  if (stopped) {
    return RunOutcome::kStopped;
  }
  return missing + different + not_in_source + masters_missing + masters_different > 0
             ? RunOutcome::kIncomplete
             : RunOutcome::kComplete;
}

VerifySummary Verify(const VerifyOptions& options) {
  if (text::Trim(options.company).empty()) {
    throw Failure(FailureNumber::kValue, "the verification needs a company to read");
  }
  for (const std::string* date : {&options.from, &options.to}) {
    if (!date->empty() && !IsCalendarDate(*date)) {
      throw Failure(FailureNumber::kValue, "\"" + *date + "\" is not a date (YYYYMMDD)");
    }
  }
  if (!options.from.empty() && !options.to.empty() && options.from > options.to) {
    throw Failure(FailureNumber::kValue,
                  "the range " + options.from + " to " + options.to + " ends before it starts");
  }
  if (options.page_rows < 1) {
    throw Failure(FailureNumber::kValue, "the page size must be at least one row");
  }
  const Clock::time_point start = Clock::now();
  VerifySummary summary;
  try {
    verify::Run run(options, summary);
    run.Load();
    if (!summary.interrupted) {
      run.Masters();
      run.Compare();
    }
    if (!summary.interrupted) {
      run.Emit();
    }
  } catch (const Failure& failure) {
    summary.stopped = failure.description();
  }
  summary.time = Clock::now() - start;
  return summary;
}

void PrintVerifySummary(std::ostream& out, const VerifySummary& s) {
  if (s.stopped) {
    out << "Rows:      " << s.rows << " in the table\n"
        << "Stopped: the comparison is incomplete, nothing proves the books right.\n";
    return;
  }
  out << "Rows:      " << s.rows << " in the table";
  if (!s.from.empty()) {
    out << ", " << s.in_range << " dated " << s.from << " to " << s.to
        << " (or failing the local checks)";
  }
  out << '\n';
  out << "Vouchers:  " << s.matched << " match, " << s.missing << " missing from the books, "
      << s.different << " different, " << s.not_in_source
      << " in the books but not in the source\n";
  out << "           " << s.not_expected << " not expected: failed local checks\n";
  out << "Masters:   " << s.masters_needed << " needed, " << s.masters_missing << " missing, "
      << s.masters_different << " with another parent or unit\n";
  char time[32];
  std::snprintf(time, sizeof time, "%.1f s", s.time.count());
  out << "Requests:  " << s.requests << (s.requests == 1 ? " export request" : " export requests")
      << "; time " << time << '\n';
  if (s.interrupted) {
    out << "Interrupted: the comparison is incomplete.\n";
  } else if (s.outcome() == RunOutcome::kComplete) {
    out << "Everything the source expects is in the books.\n";
  }
}

}  // namespace lirvo::verify
