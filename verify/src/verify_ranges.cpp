// The walk over the date ranges: the range cut into pieces of about page_rows source rows, each
// piece's books vouchers fetched (the next while this one is compared) and compared with its rows,
// a piece whose reply is too large compared in halves; books vouchers no row of their range took
// judged at the end.
#include <lirvo/verify.h>

#include <chrono>
#include <cstdio>

#include <lirvo/verify/run.h>
#include "verify_compare.h"

namespace lirvo::verify {

using books::BooksVoucher;
using books::ReadVoucherReply;
using books::SalesRow;
using books::VoucherExportRequest;

namespace {

using modTally::Failure;
namespace FailureNumber = modTally::FailureNumber;

std::chrono::sys_days Days(std::string_view date) {
  return std::chrono::year{std::stoi(std::string(date.substr(0, 4)))} /
         static_cast<int>(std::stoi(std::string(date.substr(4, 2)))) /
         static_cast<int>(std::stoi(std::string(date.substr(6, 2))));
}

std::string DateText(std::chrono::sys_days days) {
  const std::chrono::year_month_day day(days);
  char text[16];
  std::snprintf(text, sizeof text, "%04d%02u%02u", static_cast<int>(day.year()),
                static_cast<unsigned>(day.month()), static_cast<unsigned>(day.day()));
  return text;
}

std::string NextDay(std::string_view date) {
  return DateText(Days(date) + std::chrono::days(1));
}

// What a books voucher looks like, for the report.
std::string Describe(const BooksVoucher& voucher) {
  std::string text = "dated " + voucher.date + ", party " + voucher.party;
  if (!voucher.ledgers.empty()) {
    text += ", amount " + voucher.ledgers.front().amount;
  }
  return text;
}

// Spool::AddMissing writes the same text in SQL, for the rows of a range the books lack whole.
std::string DescribeRow(const SalesRow& row) {
  return "dated " + Plain(row.VoucherDate) + ", party " + Plain(row.PartyName) + ", amount " +
         Plain(row.Amount);
}

}  // namespace

std::string Run::What(const Range& range) const {
  return "cannot read the sales vouchers of \"" + options_.company + "\" dated " + range.from +
         " to " + range.to + " from " + modTally::ShownUrl(options_.server.url);
}

std::future<modTally::Reply> Run::Fetch(const Range& range) {
  ++summary_.requests;
  return std::async(std::launch::async, [this, range] {
    return modTally::Exchange(options_.server,
                              VoucherExportRequest(options_.company, range.from, range.to),
                              options_.server.Import());
  });
}

void Run::Compare() {
  if (summary_.from.empty()) {
    return;  // no row to compare and no range given
  }
  if (summary_.from > summary_.to) {
    throw Failure(FailureNumber::kValue,
                  "the range " + summary_.from + " to " + summary_.to + " ends before it starts");
  }
  // Ranges of at most about page_rows source rows each, covering every day from `from` to `to`.
  std::vector<Range> ranges;
  {
    std::string start = summary_.from;
    std::string last;
    long count = 0;
    spool_.ForEachDate(summary_.from, summary_.to, [&](const std::string& date, long rows) {
      if (count > 0 && count + rows > options_.page_rows) {
        ranges.push_back({start, last});
        start = NextDay(last);
        count = 0;
      }
      count += rows;
      last = date;
      to_compare_ += rows;
    });
    ranges.push_back({start, summary_.to});
  }
  summary_.in_range = to_compare_ + spool_.CountFindings(Outcome::kNotExpected);
  Show(SyncPhase::kComparing, 0, to_compare_);
  // One export in flight at a time: the next range's while this one is compared.
  std::future<modTally::Reply> fetched = Fetch(ranges.front());
  for (std::size_t i = 0; i < ranges.size(); ++i) {
    const std::optional<modTally::Reply> reply = Receive(ranges[i], fetched);
    if (options_.server.Cancelled()) {
      summary_.interrupted = true;
      return;
    }
    if (!reply) {
      CompareHalves(ranges[i]);
    }
    if (i + 1 < ranges.size()) {
      fetched = Fetch(ranges[i + 1]);
    }
    if (reply) {
      CompareReply(ranges[i], *reply);
    }
  }

  // Books vouchers found outside their row's range.
  spool_.SettleElsewhere();
}

std::optional<modTally::Reply> Run::Receive(const Range& range,
                                            std::future<modTally::Reply>& fetched) {
  try {
    modTally::Reply reply = fetched.get();
    if (reply.text.size() > options_.page_bytes && range.from != range.to) {
      return std::nullopt;
    }
    return reply;
  } catch (const Failure& failure) {
    if (failure.kind() == modTally::FailureKind::Reply &&
        failure.number() == FailureNumber::kReplyTooLarge && range.from != range.to) {
      return std::nullopt;
    }
    throw Failure(failure, What(range) + ": " + failure.description());
  }
}

void Run::CompareRange(const Range& range) {
  std::future<modTally::Reply> fetched = Fetch(range);
  const std::optional<modTally::Reply> reply = Receive(range, fetched);
  if (reply) {
    CompareReply(range, *reply);
  } else {
    CompareHalves(range);
  }
}

void Run::CompareHalves(const Range& range) {
  const auto from = Days(range.from);
  const std::string middle = DateText(from + (Days(range.to) - from) / 2);
  CompareRange({range.from, middle});
  CompareRange({NextDay(middle), range.to});
}

void Run::CompareReply(const Range& range, const modTally::Reply& reply) {
  const std::vector<BooksVoucher> vouchers =
      ReadVoucherReply(reply, What(range), range.from, range.to);
  std::unordered_map<std::string, std::size_t> by_remote_id;
  std::vector<bool> used(vouchers.size(), false);
  for (std::size_t i = 0; i < vouchers.size(); ++i) {
    if (!vouchers[i].remote_id.empty()) {
      by_remote_id.emplace(vouchers[i].remote_id, i);
    }
  }
  sqlite::Transaction comparing = spool_.Begin();
  if (vouchers.empty()) {
    // The books hold none of the range (as on a first sync): every row of it is missing, noted
    // by the spool in one statement.
    compared_ += spool_.AddMissing(range.from, range.to);
    comparing.Commit();
    Show(SyncPhase::kComparing, compared_, to_compare_);
    return;
  }
  spool_.ForEachRow(range.from, range.to, [&](long number, const SalesRow& row) {
    const auto found = by_remote_id.find(*row.VoucherID);
    if (found == by_remote_id.end()) {
      Find(number, *row.VoucherID, Outcome::kMissing, "", DescribeRow(row), "");
    } else {
      used[found->second] = true;
      const std::vector<FieldDifference> differences = CompareVoucher(row, vouchers[found->second]);
      for (const FieldDifference& difference : differences) {
        Find(number, *row.VoucherID, Outcome::kDifferent, difference.field, difference.source,
             difference.books);
      }
      summary_.matched += differences.empty() ? 1 : 0;
    }
    if (++compared_ % 256 == 0) {
      Show(SyncPhase::kComparing, compared_, to_compare_);
    }
  });
  for (std::size_t i = 0; i < vouchers.size(); ++i) {
    if (!used[i]) {
      Judge(range, vouchers[i]);
    }
  }
  comparing.Commit();
  Show(SyncPhase::kComparing, compared_, to_compare_);
}

void Run::Judge(const Range& range, const BooksVoucher& voucher) {
  const std::string description = Describe(voucher);
  if (voucher.remote_id.empty()) {
    Find(0, "", Outcome::kNotInSource, "REMOTEID", "", "none, " + description);
    return;
  }
  const std::optional<SpooledRow> spooled = spool_.ById(voucher.remote_id);
  if (!spooled) {
    Find(0, voucher.remote_id, Outcome::kNotInSource, "voucher", "", description);
    return;
  }
  const auto& [number, row, rejected, digest] = *spooled;
  const std::string date = Plain(row.VoucherDate);
  if (rejected) {
    Find(number, voucher.remote_id, Outcome::kNotInSource, "local checks", *rejected, description);
  } else if (date >= range.from && date <= range.to) {
    Find(0, voucher.remote_id, Outcome::kNotInSource, "REMOTEID", "row " + std::to_string(number),
         "a second voucher with this REMOTEID, " + description);
  } else if (date < summary_.from || date > summary_.to) {
    // The row lies outside the range, so it is compared here and only here.
    for (const FieldDifference& d : CompareVoucher(row, voucher)) {
      Find(number, voucher.remote_id, Outcome::kDifferent, d.field, d.source, d.books);
    }
  } else {
    if (!spool_.NoteElsewhere(voucher.remote_id, number, voucher.date)) {
      Find(0, voucher.remote_id, Outcome::kNotInSource, "REMOTEID", "row " + std::to_string(number),
           "a second voucher with this REMOTEID, " + description);
      return;
    }
    for (const FieldDifference& d : CompareVoucher(row, voucher)) {
      spool_.AddElsewhereField(voucher.remote_id, d);
    }
  }
}

}  // namespace lirvo::verify
