// The documents of a source fed into the books: Vouchers with their VoucherLines spooled, walked a
// type and a range of days at a time, checked, the books' copies of the range read back, and what
// the books lack sent in batches. One class whose steps share the feed's state, in the order they
// happen (about 710 lines).
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <memory>
#include <ostream>
#include <span>
#include <unordered_map>
#include <unordered_set>

#include <lirvo/books/sales.h>
#include <lirvo/feed.h>
#include <lirvo/source_layout.h>
#include <lirvo/sqlite.h>
#include <lirvo/sync/post.h>
#include <lirvo/text.h>
#include <lirvo/verify.h>

#include "document_journal.h"
#include "document_spool.h"
#include "held.h"
#include "in_hand.h"
#include "sales_mst.h"

namespace lirvo::feed {

namespace {

using modTally::Failure;
using Read = SpooledDocument;

// How many of the source's documents of a type the books are read back for at once: a reply of
// about 1.5 MB, and what is held of it, whatever the source's size.
constexpr long kRangeDocuments = 500;
// The most such ranges read back at once, when the books held nothing of the last: a reply stays
// within a few MB should the books after all hold the documents of all of them.
constexpr std::size_t kMostRanges = 8;
// How many ranges' books are read ahead of the one being compared.
constexpr std::size_t kRangesReadAhead = 2;

// The day after `day`, both YYYYMMDD.
std::string DayAfter(const std::string& day) {
  using namespace std::chrono;
  const year_month_day date{year{std::stoi(day.substr(0, 4))},
                            month{static_cast<unsigned>(std::stoi(day.substr(4, 2)))},
                            std::chrono::day{static_cast<unsigned>(std::stoi(day.substr(6, 2)))}};
  const year_month_day next{sys_days{date} + days{1}};
  char text[16];
  std::snprintf(text, sizeof text, "%04d%02u%02u", static_cast<int>(next.year()),
                static_cast<unsigned>(next.month()), static_cast<unsigned>(next.day()));
  return text;
}

// Whether the document numbered `row` is a row of SalesMst, and its row in its own table.
bool IsSalesMstRow(long row) {
  return row > kSalesMstRows;
}
long TableRow(long row) {
  return IsSalesMstRow(row) ? row - kSalesMstRows : row;
}

// "SalesMst row 3" or "Vouchers row 3" for the document numbered `row` (`vouchers` the table as
// the source spells it).
std::string Where(long row, const std::string& vouchers = std::string(source::kVouchersTable)) {
  return (IsSalesMstRow(row) ? std::string(source::kSalesTable) : vouchers) + " row " +
         std::to_string(TableRow(row));
}

// "voucher \"V7\" (SalesMst row 7)".
std::string Label(const Read& read) {
  return "voucher \"" + std::string(text::Trim(read.document.voucher_id)) + "\" (" +
         Where(read.row) + ")";
}

// Thrown where the feed is about to ask the server something and the batch in hand stopped the
// run: nothing more is sent or asked.
struct Halted : std::exception {};

class Feed {
 public:
  Feed(source::Source& source, const DocumentsOptions& options)
      : source_(source), options_(options), journal_(options) {
    for (const books::MasterRef& master : options.to_create) {
      to_create_[IndexOf(master.kind)].insert(Key(master.name));
    }
  }
  DocumentsSummary Go();

 private:
  // Reads the source's tables into `spool`, telling the rows of no type as rejected when every
  // type is fed.
  void Load(Spool& spool, const std::string& vouchers, const std::string& lines);
  // Tells the rows of Vouchers of no type and the lines of no voucher, as rejected.
  void TellStrays(Spool& spool);
  // Tells the rows whose VoucherID an earlier row has, as rejected.
  void TellRepeated(Spool& spool, const std::string& vouchers);
  // Feeds the documents of `type`; false when the feed has to stop.
  bool FeedType(Spool& spool, DocumentType type);
  using Held = std::optional<RangeBooks>;
  // Each document of `held` (a range's books) that the source's documents of the range did not
  // match: with tell_books_only told, else kept in elsewhere_; then forgets the matches.
  void Unmatched(DocumentType type, const RangeBooks& held);
  // One document checked and compared with the books' copies `held` (read by `books` when first
  // needed), and queued to send when the books lack it; false when the feed has to stop.
  template <class ReadBooks>
  bool Take(Read read, Held& held, ReadBooks books);
  // Queues `read` to send; false when the feed has to stop.
  bool Queue(Read read);
  void TellHeldOtherwise(const Read& read, std::vector<books::FieldDifference> differences);
  // Of unseen_, tells those the books hold at another date as held otherwise and sends the rest;
  // false when the feed has to stop.
  bool SendUnseen();
  std::optional<std::string> MissingMaster(const Document& document);
  // Why a document cannot name `spelt` as a master of kind `of`, or nothing.
  std::optional<std::string> Missing(books::MasterKind of, const std::string& spelt);
  // Whether a document dated `date` is to be fed: always without a range, and when the date does
  // not read as one (its checks reject it).
  bool InRange(const std::string& date) const {
    if (!options_.range) {
      return true;
    }
    const std::optional<std::chrono::year_month_day> day = source::ParseDate(date);
    return !day || options_.range->Contains(*day);
  }
  // The books' documents of `type` dated from `from` to `to`: those read ahead, or read now.
  RangeBooks Books(DocumentType type, const std::string& from, const std::string& to);
  // Begins reading ahead the books of `type` from `from` to `to`, after the ranges begun before.
  void ReadAheadOf(DocumentType type, const std::string& from, const std::string& to);
  // Waits for the books being read ahead, if any, and keeps them for their ranges.
  void AheadRead() { ahead_.Join(); }
  // Sends what is queued; false when the feed has to stop.
  bool Flush();
  // Builds the batch's messages and posts them once the batch in hand is answered; false when the
  // feed has to stop.
  bool Send(std::vector<Read> batch);
  // The batch in hand once answered (none when there is none).
  std::unique_ptr<Posting> Answered();
  // Tells and records what the server said to `done`; false when the feed has to stop.
  bool Settle(Posting& done);
  // Settles the batch in hand, if any; false when the feed has to stop.
  bool Settle() {
    const std::unique_ptr<Posting> done = Answered();
    return !done || Settle(*done);
  }
  // Settle, before the feed asks the server anything else; throws Halted when it has to stop.
  void SettleToAsk() {
    AheadRead();
    if (!Settle()) {
      throw Halted{};
    }
  }
  void Tell(const Read& read, DocumentOutcome::What what, const std::string& reason = {},
            bool lacks_master = false, std::vector<books::FieldDifference> differences = {});

  source::Source& source_;
  const DocumentsOptions& options_;
  DocumentsSummary summary_;
  Names held_;
  Spelt found_;      // the names, as documents spell them, found in held_ (or predefined)
  Names to_create_;  // of options_.to_create
  std::array<bool, books::kMasterKinds.size()> asked_{};
  std::vector<Read> queued_;                 // at most one batch
  std::unordered_set<std::string> matched_;  // of a range's books' copies, those the source has
  // Of the type being fed: the documents the journal has as accepted and the source has not
  // changed since, which the books lack where their dates put them (a correction in the books
  // may have moved them); and the date of each of the books' documents that no document of its
  // range matched, by VoucherID.
  std::vector<Read> unseen_;
  std::unordered_map<std::string, std::string> elsewhere_;
  std::vector<std::string> spare_;  // a settled batch's messages, reused
  DocumentJournal journal_;
  Threads threads_;                   // of the requests in hand: outlives them
  std::unique_ptr<Posting> posting_;  // the batch in hand
  ReadAheads ahead_{threads_};        // the books of the next ranges
};

void Feed::Tell(const Read& read, DocumentOutcome::What what, const std::string& reason,
                bool lacks_master, std::vector<books::FieldDifference> differences) {
  TypeCounts& counts = summary_.types[TypeIndex(read.document.type)];
  using What = DocumentOutcome::What;
  (what == What::kSent       ? counts.sent
   : what == What::kInBooks  ? counts.in_books
   : what == What::kRejected ? counts.rejected
                             : counts.held_otherwise) += 1;
  if (options_.each) {
    options_.each({read.document.type, read.document.voucher_id, TableRow(read.row), what, reason,
                   lacks_master, std::move(differences), false, IsSalesMstRow(read.row),
                   read.document.date});
  }
}

void Feed::Load(Spool& spool, const std::string& vouchers, const std::string& lines) {
  const bool every_type = options_.types.size() == books::kDocumentTypes.size();
  std::array<bool, books::kDocumentTypes.size()> fed{};
  for (const DocumentType type : options_.types) {
    fed[TypeIndex(type)] = true;
  }
  const auto take = [&](const source::Rows&, const std::string&, const std::string&,
                        const std::string& date, std::optional<DocumentType> type) {
    if (!type) {
      // A row of no known type is every kind's business only when every kind is fed.
      summary_.unknown_types += every_type ? 1 : 0;
      return false;
    }
    if (!fed[TypeIndex(*type)] || !InRange(date)) {
      return false;
    }
    ++summary_.types[TypeIndex(*type)].in_source;
    return true;
  };
  // Read again, counted afresh, when the tables are not in the order of their VoucherIDs.
  const auto afresh = [this] {
    summary_.unknown_types = 0;
    for (TypeCounts& counts : summary_.types) {
      counts.in_source = 0;
    }
  };
  bool loaded = false;
  if (source_.ReadsTablesAtOnce()) {
    const std::unique_ptr<source::Rows> voucher_rows = source_.Read(vouchers);
    std::unique_ptr<source::Rows> line_rows;
    try {
      line_rows = source_.Read(lines);
    } catch (const source::Error&) {
      // Refused beside the other (an ODBC driver may keep one statement at a time): read alone
      // below, where a table that cannot be read at all fails.
    }
    loaded = line_rows && spool.AddAlongside(*voucher_rows, *line_rows, every_type, take);
    if (!loaded) {
      afresh();
    }
  }
  if (!loaded) {
    spool.AddLines(*source_.Read(lines));
    while (!spool.AddVouchers(*source_.Read(vouchers), every_type, take)) {
      spool.IndexRuns();
      afresh();
    }
  }
  if (every_type) {
    TellStrays(spool);
  }
  TellRepeated(spool, vouchers);
}

void Feed::TellRepeated(Spool& spool, const std::string& vouchers) {
  spool.EachRepeated([&](long row, const std::string& id, long first, DocumentType type) {
    Read read;
    read.document.voucher_id = id;
    read.document.type = type;
    read.row = row;
    Tell(read, DocumentOutcome::What::kRejected,
         "its VoucherID \"" + id + "\" is also on " + Where(first, vouchers) +
             ", and a VoucherID names one voucher: the row is not sent");
  });
}

void Feed::TellStrays(Spool& spool) {
  if (options_.each) {
    spool.EachUnknown([this](long row, const std::string& id, const std::string& voucher_type) {
      options_.each({std::nullopt,
                     id,
                     row,
                     DocumentOutcome::What::kRejected,
                     books::UnknownType(id, voucher_type).Text(),
                     false,
                     {},
                     false,
                     false});
    });
  }
  // A line whose VoucherID no voucher has would otherwise be left out without a word; it is
  // every kind's business only when every kind is fed.
  spool.EachOrphan([this](long row, const std::string& voucher_id) {
    ++summary_.orphan_lines;
    if (options_.each) {
      options_.each(
          {std::nullopt,
           voucher_id,
           row,
           DocumentOutcome::What::kRejected,
           "its VoucherID \"" + voucher_id + "\" is no voucher's in Vouchers: the line is not sent",
           false,
           {},
           true,
           false});
    }
  });
}

// The masters a document names, in the order books::Needs gives them.
std::optional<std::string> Feed::MissingMaster(const Document& document) {
  std::optional<std::string> missing = Missing(books::MasterKind::kLedger, document.party);
  for (auto line = document.lines.begin(); !missing && line != document.lines.end(); ++line) {
    for (const auto& [kind, name] : {std::pair{books::MasterKind::kLedger, &line->ledger},
                                     {books::MasterKind::kUnit, &line->unit},
                                     {books::MasterKind::kGodown, &line->godown},
                                     {books::MasterKind::kStockItem, &line->item}}) {
      if ((missing = Missing(kind, *name))) {
        break;
      }
    }
  }
  return missing;
}

std::optional<std::string> Feed::Missing(books::MasterKind of, const std::string& spelt) {
  const std::size_t kind = IndexOf(of);
  // A name found once is found again as it is spelt: documents name the same few ledgers, items
  // and parties over and over, and most lines name no godown or unit.
  if (spelt.empty() || found_[kind].contains(spelt)) {
    return std::nullopt;
  }
  const books::MasterRef need{of, std::string(text::Trim(spelt))};
  if (!need.name.empty() && !books::IsPredefined(need)) {
    if (!asked_[kind]) {
      SettleToAsk();
      held_[kind] = HeldNames(options_.server, options_.company, of);
      asked_[kind] = true;
    }
    if (const std::string key = Key(need.name);
        !held_[kind].contains(key) && !to_create_[kind].contains(key)) {
      return std::string("it names the ") + Singular(of) + " \"" + need.name +
             "\", which the books do not hold";
    }
  }
  found_[kind].insert(spelt);
  return std::nullopt;
}

RangeBooks Feed::Books(DocumentType type, const std::string& from, const std::string& to) {
  if (std::optional<RangeBooks> ahead = ahead_.Take(type, from, to)) {
    return std::move(*ahead);
  }
  SettleToAsk();
  return ReadBooks(options_.server, options_.company, type, from, to);
}

void Feed::ReadAheadOf(DocumentType type, const std::string& from, const std::string& to) {
  // The batch in hand is answered first; the ranges being read ahead already take their turns.
  if (!Settle()) {
    throw Halted{};
  }
  ahead_.Add(options_.server, options_.company, type, from, to);
}

template <class ReadBooks>
bool Feed::Take(Read read, Held& held, ReadBooks books) {
  if (const std::optional<books::Problem> problem = books::Check(read.document, read.checked)) {
    Tell(read, DocumentOutcome::What::kRejected, problem->Text());
    return true;
  }
  // In a UTF-8 request the server keeps only what Windows-1252 holds.
  if (options_.server.encoding == modTally::WireEncoding::kUtf8) {
    if (const std::optional<books::Problem> loss = books::Windows1252Loss(read.document)) {
      Tell(read, DocumentOutcome::What::kRejected, loss->Text());
      return true;
    }
  }
  read.document.date = *books::SourceDate(read.document.date);
  if (journal_.Trusted(read.document, read.checked)) {
    ++summary_.types[TypeIndex(read.document.type)].trusted;
    Tell(read, DocumentOutcome::What::kInBooks);
    return true;
  }
  if (const std::optional<std::string> missing = MissingMaster(read.document)) {
    Tell(read, DocumentOutcome::What::kRejected, *missing, true);
    return true;
  }
  if (!held) {
    held = books();
  }
  // The books hold a document under its VoucherID as sent: trimmed.
  const auto found = held->find(std::string(text::Trim(read.document.voucher_id)));
  if (found != held->end()) {
    std::vector<books::FieldDifference> differences = books::Compare(read.document, found->second);
    matched_.insert(found->first);
    if (differences.empty()) {
      journal_.NoteInBooks(read.document, read.checked);
      Tell(read, DocumentOutcome::What::kInBooks);
      return true;
    }
    // Held otherwise because the source changed since the journal's copy was accepted: the
    // source's version goes; otherwise the books may have been corrected, and are left alone.
    if (!options_.overwrite && !journal_.ChangedSinceAccepted(read.document, read.checked)) {
      TellHeldOtherwise(read, std::move(differences));
      return true;
    }
  } else if (journal_.AcceptedBefore(read.document)) {
    // Perhaps moved to another day in the books: looked for once the type's books are read.
    if (!options_.tell_books_only && !options_.overwrite &&
        !journal_.ChangedSinceAccepted(read.document, read.checked)) {
      unseen_.push_back(std::move(read));
      return true;
    }
    ++summary_.types[TypeIndex(read.document.type)].missing_in_books;
  }
  return Queue(std::move(read));
}

bool Feed::Queue(Read read) {
  queued_.push_back(std::move(read));
  return queued_.size() < static_cast<std::size_t>(options_.batch) || Flush();
}

void Feed::TellHeldOtherwise(const Read& read, std::vector<books::FieldDifference> differences) {
  std::string said;
  for (const books::FieldDifference& d : differences) {
    said += (said.empty() ? "" : "; ") + d.field + ": \"" + d.source + "\" in the source, \"" +
            d.books + "\" in the books";
  }
  Tell(read, DocumentOutcome::What::kHeldOtherwise,
       "the books hold it otherwise (" + said +
           "); left alone, --overwrite sends the source's version",
       false, std::move(differences));
}

bool Feed::SendUnseen() {
  std::vector<Read> unseen = std::move(unseen_);
  unseen_.clear();
  bool going = true;
  for (auto read = unseen.begin(); going && read != unseen.end(); ++read) {
    const auto books = elsewhere_.find(std::string(text::Trim(read->document.voucher_id)));
    if (books != elsewhere_.end()) {
      TellHeldOtherwise(*read, {{"date", read->document.date, books->second}});
    } else {
      ++summary_.types[TypeIndex(read->document.type)].missing_in_books;
      going = Queue(std::move(*read));
    }
  }
  elsewhere_.clear();
  return going;
}

bool Feed::Flush() {
  if (queued_.empty()) {
    return true;
  }
  if (options_.server.Cancelled()) {
    summary_.interrupted = true;
    return false;
  }
  std::vector<Read> batch = std::move(queued_);
  queued_.clear();
  queued_.reserve(batch.size());  // the next batch, as large
  return Send(std::move(batch));
}

bool Feed::Send(std::vector<Read> batch) {
  if (options_.dry_run) {
    for (const Read& read : batch) {
      Tell(read, DocumentOutcome::What::kSent);
    }
    return true;
  }
  auto posting = std::make_unique<Posting>();
  Posting& p = *posting;
  // Each document's message in a string of its own, reused from batch to batch: a batch the
  // server refuses is sent again in halves until each refused document is alone.
  p.messages = std::move(spare_);
  p.messages.resize(batch.size());
  for (std::size_t i = 0; i < batch.size(); ++i) {
    p.messages[i].clear();
    books::AppendMessage(p.messages[i], batch[i].document, batch[i].checked);
  }
  p.digests = journal_.Digests(p.messages);
  p.batch = std::move(batch);
  AheadRead();
  const std::unique_ptr<Posting> done = Answered();
  if (done && !done->WentThrough()) {
    Settle(*done);
    return false;
  }
  p.Start(threads_, options_.server, options_.company, Label);
  posting_ = std::move(posting);
  if (done && !Settle(*done)) {
    posting_.reset();  // the journal failed: what the server makes of this batch is not known
    return false;
  }
  return true;
}

std::unique_ptr<Posting> Feed::Answered() {
  std::unique_ptr<Posting> done = std::move(posting_);
  if (done) {
    done->in_hand.Join();
  }
  return done;
}

bool Feed::Settle(Posting& done) {
  summary_.requests += done.counts.requests;
  bool finished = done.finished;
  try {
    const std::span<const Read> batch(done.batch);
    for (const Posting::Decided& part : done.decided) {
      for (std::size_t i = part.begin; i < part.end; ++i) {
        Tell(batch[i],
             part.accepted ? DocumentOutcome::What::kSent : DocumentOutcome::What::kRejected,
             part.reason);
      }
      try {
        journal_.Record(batch.front().document.type,
                        batch.subspan(part.begin, part.end - part.begin), done.digests, part.begin,
                        part.accepted, part.reason);
      } catch (const Failure& failure) {
        throw sync::Unrecorded(failure, part.accepted,
                               sync::AndAfter(Label(batch[part.begin]), part.end - part.begin));
      }
    }
    done.in_hand.Rethrow();
    summary_.interrupted = !finished;
  } catch (const Failure& failure) {
    finished = false;
    summary_.interrupted = options_.server.Cancelled();
    summary_.stopped = failure.description();
  }
  spare_ = std::move(done.messages);
  return finished;
}

bool Feed::FeedType(Spool& spool, DocumentType type) {
  // Documents dated no calendar day fail their checks: they need no books to compare with.
  Held none = std::unordered_map<std::string, books::BooksDocument>{};
  if (!spool.ForEachDocument(type, std::nullopt, [&](Read read) {
        return Take(std::move(read), none, [] { return Held::value_type{}; });
      })) {
    return false;
  }
  // The rest by ranges of days holding about kRangeDocuments documents each, the books' copies
  // of a range read once, when its first document passes its checks (a reply, and what is held,
  // stay small whatever the source's size).
  std::vector<std::pair<std::string, std::string>> ranges;
  long count = 0;
  spool.ForEachDay(type, [&](const std::string& day, long documents) {
    if (ranges.empty() || count + documents > kRangeDocuments) {
      ranges.emplace_back(day, day);
      count = 0;
    }
    ranges.back().second = day;
    count += documents;
  });
  // One range follows another without a gap, so that the books' documents dated between two of
  // the source's days are read back too: for verify to name those the source lacks, and for a sync
  // to find those moved to another day.
  for (std::size_t i = 1; i < ranges.size(); ++i) {
    ranges[i].first = DayAfter(ranges[i - 1].second);
  }
  // Books that held nothing of a range likely hold nothing of the next either (a first sync): the
  // next read-back takes twice as many ranges at once, up to kMostRanges, and one again once it
  // finds anything. A run into a fresh company asks a few dozen times, not once per range.
  std::size_t at_once = 1;
  for (std::size_t first = 0; first < ranges.size();) {
    const std::size_t last = std::min(first + at_once, ranges.size()) - 1;
    const std::pair<std::string, std::string> range{ranges[first].first, ranges[last].second};
    first = last + 1;
    Held held;
    if (!spool.ForEachDocument(type, range, [&](Read read) {
          return Take(std::move(read), held, [&] {
            RangeBooks books = Books(type, range.first, range.second);
            // Books that hold documents of this range likely hold the next ones' too (a re-run,
            // a verify): they are read while this range's documents are compared, the second
            // range's request sent while the reply of the first is read.
            const std::size_t ahead = books.empty() ? first : first + kRangesReadAhead;
            for (std::size_t next = first; next < std::min(ahead, ranges.size()); ++next) {
              ReadAheadOf(type, ranges[next].first, ranges[next].second);
            }
            return books;
          });
        })) {
      return false;
    }
    if (held) {  // matches are noted only in books read
      at_once = held->empty() ? std::min(at_once * 2, kMostRanges) : 1;
      Unmatched(type, *held);
    }
  }
  ahead_.Drop();  // read ahead for ranges none of whose documents needed the books
  return SendUnseen() && Flush() && Settle();
}

void Feed::Unmatched(DocumentType type, const RangeBooks& held) {
  for (const auto& [id, books] : held) {
    if (matched_.contains(id)) {
      continue;
    }
    if (!options_.tell_books_only) {
      elsewhere_.emplace(id, books.document.date);
    } else if (options_.each) {
      options_.each({type,
                     id,
                     0,
                     DocumentOutcome::What::kOnlyInBooks,
                     "dated " + books.document.date,
                     false,
                     {},
                     false,
                     false,
                     books.document.date});
    }
  }
  matched_.clear();
}

DocumentsSummary Feed::Go() {
  const std::optional<std::string> vouchers = source_.FindTable(source::kVouchersTable);
  if (!vouchers) {
    return summary_;
  }
  source::CheckColumns(source_, source::kVouchersTable);
  const std::optional<std::string> lines_table = source_.FindTable(source::kVoucherLinesTable);
  if (!lines_table) {
    throw Failure(modTally::FailureNumber::kDatabase,
                  source_.name() + " has Vouchers but no VoucherLines: a voucher needs its lines");
  }
  source::CheckColumns(source_, source::kVoucherLinesTable);
  Spool spool;
  Load(spool, *vouchers, *lines_table);
  if (options_.loaded) {
    std::vector<books::MasterRef> to_create;
    if (!options_.loaded(summary_, to_create)) {
      return summary_;
    }
    for (const books::MasterRef& master : to_create) {
      to_create_[IndexOf(master.kind)].insert(Key(master.name));
    }
  }
  try {
    for (const DocumentType type : books::kDocumentTypes) {
      if (std::find(options_.types.begin(), options_.types.end(), type) != options_.types.end() &&
          !FeedType(spool, type)) {
        break;
      }
    }
  } catch (const Halted&) {
    // What stopped the feed is in the summary.
  }
  Settle();  // a batch left in hand when the feed stopped
  try {
    journal_.Finish();
  } catch (const Failure& failure) {
    summary_.stopped = summary_.stopped.value_or(failure.description());
  }
  return summary_;
}

}  // namespace

RunOutcome DocumentsSummary::outcome() const {
  if (interrupted) {
    return RunOutcome::kInterrupted;
  }
  if (stopped) {
    return RunOutcome::kStopped;
  }
  long failed = unknown_types + orphan_lines;
  for (const TypeCounts& counts : types) {
    failed += counts.rejected + counts.held_otherwise;
  }
  return failed > 0 ? RunOutcome::kIncomplete : RunOutcome::kComplete;
}

DocumentsSummary FeedDocuments(source::Source& source, const DocumentsOptions& options) {
  return Feed(source, options).Go();
}

void PrintDocumentsSummary(std::ostream& out, const DocumentsSummary& summary, bool dry_run) {
  for (const DocumentType type : books::kDocumentTypes) {
    const TypeCounts& c = summary.types[TypeIndex(type)];
    if (c.in_source == 0) {
      continue;
    }
    out << "Documents from the source, " << books::KindName(type) << ": " << c.in_source
        << " in the source, " << c.in_books << " already in the books as in the source"
        << OnTheJournalsWord(c.trusted) << ", " << c.sent << (dry_run ? " to send, " : " sent, ")
        << c.rejected << " rejected, " << c.held_otherwise << " held otherwise";
    if (c.missing_in_books > 0) {
      out << "; " << c.missing_in_books
          << " the journal had as accepted were missing from the books: "
          << (dry_run ? "to send again" : "sent again");
    }
    out << '\n';
  }
  if (summary.unknown_types > 0) {
    out << "Documents from the source whose VoucherType names no document type: "
        << summary.unknown_types << " rejected\n";
  }
  if (summary.orphan_lines > 0) {
    out << "Lines of VoucherLines whose VoucherID no voucher has: " << summary.orphan_lines
        << " rejected\n";
  }
}

}  // namespace lirvo::feed
