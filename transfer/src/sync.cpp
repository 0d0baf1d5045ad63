// The sync: pre-flight, one streaming pass over the table, the missing masters, then the vouchers
// in batches, every outcome recorded in the journal as soon as the server has answered.
#include <lirvo/sync.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <future>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include <lirvo/modTallyIm.h>
#include <lirvo/salesdb.h>
#include <lirvo/text.h>

#include "journal.h"

namespace lirvo::transfer {

namespace {

using modTally::Failure;
namespace FailureNumber = modTally::FailureNumber;
using Clock = std::chrono::steady_clock;

constexpr const char* kTable = "SalesMst";

bool Blank(const std::optional<std::string>& value) {
  return !value || text::Trim(*value).empty();
}

// Whether the whole of `value` (blanks around it aside) is one decimal number.
bool IsPlainNumber(std::string_view value) {
  value = text::Trim(value);
  if (!value.empty() && value.front() == '+') {
    value.remove_prefix(1);
  }
  double number = 0;
  const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), number);
  return error == std::errc() && end == value.data() + value.size() && std::isfinite(number);
}

bool IsDate(std::string_view value) {
  return value.size() == 8 &&
         std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// ---------------------------------------------------------------------------------------------
// What the company holds, and what the vouchers need

struct Need {
  std::string name;
  std::string detail;  // a ledger's parent group, a stock item's unit
};

// The masters of one kind the vouchers need, in the order first met, keyed as the server compares
// names.
class Needs {
 public:
  void Note(const std::string& name, const std::string& detail) {
    key_.assign(name);
    for (char& c : key_) {
      c = text::LowerAscii(c);
    }
    if (seen_.find(key_) == seen_.end()) {
      seen_.emplace(key_, needs_.size());
      needs_.push_back({name, detail});
    }
  }
  const std::vector<Need>& all() const { return needs_; }

 private:
  std::unordered_map<std::string, std::size_t> seen_;
  std::vector<Need> needs_;
  std::string key_;  // reused, so that noting a name met before allocates nothing
};

// List of Accounts of `type` in `company` (without a company: in the current one).
std::string ListOfAccountsRequest(const std::optional<std::string>& company, const char* type) {
  return "<ENVELOPE><HEADER><TALLYREQUEST>Export Data</TALLYREQUEST></HEADER><BODY><EXPORTDATA>"
         "<REQUESTDESC><REPORTNAME>List of Accounts</REPORTNAME><STATICVARIABLES>" +
         (company ? "<SVCURRENTCOMPANY>" + modTally::EscapeXml(*company) + "</SVCURRENTCOMPANY>"
                  : std::string()) +
         "<SVEXPORTFORMAT>$$SysName:XML</SVEXPORTFORMAT><ACCOUNTTYPE>" + type +
         "</ACCOUNTTYPE></STATICVARIABLES></REQUESTDESC></EXPORTDATA></BODY></ENVELOPE>";
}

// The names (folded) of the masters of `type` ("Units", element UNIT) that `company` holds.
std::unordered_set<std::string> ReadMasters(const std::string& url, const std::string& company,
                                            const char* type, const char* element,
                                            const modTally::ExchangeLimits& limits) {
  const std::string what =
      std::string("cannot read the ") + type + " of \"" + company + "\" from " + url + ": ";
  const modTally::Reply reply =
      modTally::Exchange(url, ListOfAccountsRequest(company, type), limits);
  // A list is an export, not an import: it is judged by its status, its form and any LINEERROR.
  pugi::xml_document document;
  if (reply.status >= 300) {
    throw Failure(FailureNumber::kHttpStatus, what + "HTTP status " + std::to_string(reply.status));
  }
  if (!modTally::LoadXml(document, reply.text)) {
    throw Failure(FailureNumber::kDocument, what + "the reply is not XML");
  }
  if (const pugi::xpath_node error = document.select_node("//LINEERROR")) {
    throw Failure(FailureNumber::kDocument,
                  what + std::string(text::Trim(modTally::NodeText(error.node()))));
  }
  std::unordered_set<std::string> names;
  for (const pugi::xpath_node& found :
       document.select_nodes((std::string("//") + element).c_str())) {
    const pugi::xml_node node = found.node();
    std::string name = node.attribute("NAME").value();
    if (name.empty()) {
      name = modTally::NodeText(node.child("NAME"));
    }
    if (name.empty()) {
      name = modTally::NodeText(node.child("NAME.LIST").child("NAME"));
    }
    if (!name.empty()) {
      names.insert(text::FoldCase(name));
    }
  }
  return names;
}

// The TALLYMESSAGE of a master request built by the master builders.
std::string MessageOf(const std::string& request) {
  const std::size_t from = request.find("<TALLYMESSAGE");
  const std::size_t to = request.rfind("</TALLYMESSAGE>");
  if (from == std::string::npos || to == std::string::npos || to < from) {
    throw Failure(FailureNumber::kDocument, "a master request holds no TALLYMESSAGE");
  }
  return request.substr(from, to + std::string_view("</TALLYMESSAGE>").size() - from);
}

enum class MasterKind { kUnit, kLedger, kItem };

std::string MasterMessage(MasterKind kind, const Need& need, const std::string& company) {
  switch (kind) {
    case MasterKind::kUnit: {
      modTallyIm::UnitMaster unit;
      unit.Name = need.name;
      unit.IsSimpleUnit = "Yes";
      unit.OriginalName = need.name;
      unit.DecimalPlaces = "2";
      return MessageOf(modTallyIm::BuildUnit(company, unit, "Create"));
    }
    case MasterKind::kLedger: {
      modTallyIm::LedgerMaster ledger;
      ledger.Name = need.name;
      ledger.Parent = need.detail;
      return MessageOf(modTallyIm::BuildLedger(company, ledger, "Create"));
    }
    case MasterKind::kItem: {
      modTallyIm::StockItemMaster item;
      item.Name = need.name;
      item.BaseUnits = need.detail;
      item.CostingMethod = "Avg. Cost";
      item.ValuationMethod = "Avg. Price";
      item.Denominator = "1";
      return MessageOf(modTallyIm::BuildStockItem(company, item, "Create"));
    }
  }
  return {};
}

// ---------------------------------------------------------------------------------------------
// Posting batches

// A run that cannot go on: the server is gone, or a request keeps failing.
struct Stop {
  std::string reason;
};

struct Item {
  std::string label;  // for messages: "voucher \"X\" (row 7)" or "stock item \"Y\""
  const std::string* message;
};

// Posts items in batches, one request at a time, and splits a batch the server rejects (or whose
// request fails) in halves until every rejected item is alone, so each gets the server's own
// reason. `decided` receives each part as its outcome is known.
class Poster {
 public:
  using Decided = std::function<void(std::size_t begin, std::size_t end, bool accepted,
                                     const std::string& reason)>;

  Poster(const SyncOptions& options, SyncSummary& summary)
      : options_(options), summary_(summary), head_(ImportRequestHead(options.company)) {}

  // Posts items [0, size). Returns false when interrupted before every item was decided. Throws
  // Stop when a single item's request keeps failing.
  bool Post(const std::vector<Item>& items, const Decided& decided) {
    return Part(items, 0, items.size(), false, decided);
  }

 private:
  bool Interrupted() const { return options_.interrupted && options_.interrupted(); }

  bool Part(const std::vector<Item>& items, std::size_t begin, std::size_t end, bool split,
            const Decided& decided) {
    if (begin == end) {
      return true;
    }
    if (Interrupted()) {
      return false;
    }
    body_ = head_;
    for (std::size_t i = begin; i < end; ++i) {
      body_ += *items[i].message;
    }
    body_ += kImportRequestTail;
    const bool single = end - begin == 1;
    std::optional<modTally::Reply> reply;
    std::string failure;
    // A single item whose request fails is tried three times before the run stops.
    for (int attempt = 0; attempt < (single ? 3 : 1); ++attempt) {
      if (attempt > 0) {
        if (Interrupted()) {
          return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(250 * attempt));
      }
      ++summary_.requests;
      summary_.split_requests += split ? 1 : 0;
      try {
        reply = modTally::Exchange(options_.url, std::optional<std::string_view>(body_),
                                   options_.import_limits);
        break;
      } catch (const Failure& error) {
        failure = error.description();
      }
    }
    if (reply && !IsRejection(*reply)) {
      decided(begin, end, true, {});
      return true;
    }
    if (single) {
      if (!reply) {
        throw Stop{"the request for " + items[begin].label + " failed three times: " + failure};
      }
      decided(begin, end, false, RejectionText(*reply));
      return true;
    }
    const std::size_t middle = begin + (end - begin) / 2;
    return Part(items, begin, middle, true, decided) && Part(items, middle, end, true, decided);
  }

  const SyncOptions& options_;
  SyncSummary& summary_;
  const std::string head_;
  std::string body_;
};

}  // namespace

// ---------------------------------------------------------------------------------------------

SalesSource::SalesSource(const std::filesystem::path& database) : path_(database) {
  SalesDatabase db(database);
  rows_ = std::make_unique<Recordset>(db.Open(std::string("Select * from ") + kTable));
}

SalesSource::~SalesSource() = default;
SalesSource::SalesSource(SalesSource&&) noexcept = default;
SalesSource& SalesSource::operator=(SalesSource&&) noexcept = default;

long SalesSource::RowCount() const {
  return rows_->RecordCount();
}

bool SalesSource::Next() {
  try {
    if (number_ > 0) {
      rows_->MoveNext();
    }
    if (rows_->AtEnd()) {
      return false;
    }
    row_ = ReadSalesRow(*rows_);
  } catch (const Failure& failure) {
    throw Failure(failure.number(), "cannot read row " + std::to_string(number_ + 1) + " of " +
                                        kTable + " in " + path_.string() + ": " +
                                        failure.description());
  }
  ++number_;
  return true;
}

std::optional<std::string> LocalCheck(const SalesRow& row) {
  const std::pair<const std::optional<std::string> SalesRow::*, const char*> required[] = {
      {&SalesRow::VoucherID, "VoucherID (the voucher's REMOTEID)"},
      {&SalesRow::VoucherDate, "VoucherDate"},
      {&SalesRow::PartyName, "PartyName (the party ledger)"},
      {&SalesRow::SalesLedger, "SalesLedger"},
      {&SalesRow::TaxAc, "TaxAc (the tax ledger)"},
      {&SalesRow::ItemName, "ItemName (the stock item)"},
      {&SalesRow::Unit, "Unit"},
      {&SalesRow::Amount, "Amount"},
      {&SalesRow::TaxPer, "TaxPer (the tax rate)"},
  };
  for (const auto& [member, what] : required) {
    if (Blank(row.*member)) {
      return std::string("no ") + what;
    }
  }
  if (!IsDate(text::Trim(*row.VoucherDate))) {
    return "VoucherDate \"" + *row.VoucherDate + "\" is not a date (YYYYMMDD)";
  }
  if (!IsPlainNumber(*row.Amount)) {
    return "Amount \"" + *row.Amount + "\" is not a number";
  }
  if (row.TaxPer->find_first_of("0123456789") == std::string::npos) {
    return "TaxPer \"" + *row.TaxPer + "\" is not a number";
  }
  try {
    const SalesVoucherFigures figures = VoucherFigures(row);
    if (!std::isfinite(figures.gross) || !std::isfinite(figures.tax)) {
      return "Amount " + *row.Amount + " with TaxPer " + *row.TaxPer +
             " gives a total too large for a voucher";
    }
  } catch (const Failure& failure) {
    return failure.description();
  }
  return std::nullopt;
}

std::string Digest(std::string_view text) {
  // Eight bytes at a time, each word mixed in by multiplication and a shift (the mixing of
  // MurmurHash's finaliser): enough to tell a changed voucher from an unchanged one, and fast on
  // every row of a large table.
  constexpr std::uint64_t kMultiplier = 0x9E3779B97F4A7C15ULL;
  std::uint64_t hash = 0xCBF29CE484222325ULL ^ (text.size() * kMultiplier);
  const auto mix = [&hash](std::uint64_t word) {
    hash ^= word;
    hash *= kMultiplier;
    hash ^= hash >> 29;
  };
  std::size_t i = 0;
  for (; i + 8 <= text.size(); i += 8) {
    std::uint64_t word = 0;
    std::memcpy(&word, text.data() + i, 8);
    mix(word);
  }
  std::uint64_t tail = 0;
  std::memcpy(&tail, text.data() + i, text.size() - i);
  mix(tail);
  hash ^= hash >> 33;
  hash *= 0xFF51AFD7ED558CCDULL;
  hash ^= hash >> 33;
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string digest(16, '0');
  for (int d = 15; d >= 0; --d) {
    digest[static_cast<std::size_t>(d)] = kDigits[hash & 0xF];
    hash >>= 4;
  }
  return digest;
}

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

std::string CurrentCompany(const std::string& url, const modTally::ExchangeLimits& limits) {
  // List of Accounts names the current company whatever the type asked; units make a short reply.
  const modTally::Reply reply =
      modTally::Exchange(url, ListOfAccountsRequest(std::nullopt, "Units"), limits);
  if (reply.status >= 400) {
    throw Failure(FailureNumber::kDocument,
                  "cannot ask " + url + " for its current company: " + RejectionText(reply));
  }
  return modTally::ReadCurrentCompanyReply(reply.text);
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
  const auto show = [&](SyncPhase phase, long done, long total) {
    if (options.progress) {
      options.progress({phase, done, total});
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
  std::future<Held> preflight = std::async(std::launch::async, [&options] {
    Held held;
    held.units = ReadMasters(options.url, options.company, "Units", "UNIT", options.query_limits);
    held.ledgers =
        ReadMasters(options.url, options.company, "Ledgers", "LEDGER", options.query_limits);
    held.items =
        ReadMasters(options.url, options.company, "Stock Items", "STOCKITEM", options.query_limits);
    return held;
  });
  // Waits for the pre-flight; its failure stops the run.
  const auto preflight_done = [&]() -> std::optional<Held> {
    try {
      return preflight.get();
    } catch (const Failure& failure) {
      summary.stopped = failure.description();
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

  Poster poster(options, summary);
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
             &voucher.message});
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
  } catch (const Stop& stop) {
    summary.stopped = stop.reason;
  } catch (const Failure& failure) {
    summary.stopped = failure.description();
  }
  summary.skipped = skipped_vouchers;
  return finish();
}

}  // namespace lirvo::transfer
