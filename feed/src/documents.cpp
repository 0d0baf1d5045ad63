// The documents of a source fed into the books: Vouchers with their VoucherLines, checked, the
// books' copies read back by type and month, and what the books lack sent in batches.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <ostream>

#include <lirvo/export_reply.h>
#include <lirvo/feed.h>
#include <lirvo/judge.h>
#include <lirvo/source_layout.h>
#include <lirvo/sqlite.h>
#include <lirvo/transfer.h>
#include <lirvo/verify.h>

#include "held.h"

namespace lirvo::feed {

namespace {

using books::Document;
using books::DocumentType;
using modTally::Failure;

std::size_t TypeIndex(DocumentType type) {
  return static_cast<std::size_t>(type);
}

// The type a VoucherType names: the server's name, the --kinds name or the dialog's label.
std::optional<DocumentType> TypeOf(std::string_view text) {
  if (const source::Kind* kind = source::KindOfVoucherType(text); kind && kind->document()) {
    return books::TypeOfServerName(kind->voucher_type);
  }
  return std::nullopt;
}

std::string ValueAt(const source::Rows& rows, const std::optional<std::size_t>& at) {
  return at && rows.Values()[*at] ? *rows.Values()[*at] : std::string();
}

// The lines of VoucherLines, spooled to a private temporary file by VoucherID, so that each
// voucher finds its own whatever order the table holds them in.
class LineSpool {
 public:
  LineSpool(source::Source& source, const std::string& table) : db_("", Options()) {
    db_.Execute(
        "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; PRAGMA temp_store=FILE;"
        "CREATE TABLE lines(voucher_id TEXT, seq INTEGER, line TEXT, ledger TEXT, item TEXT,"
        " godown TEXT, quantity TEXT, unit TEXT, rate TEXT, amount TEXT)");
    const std::unique_ptr<source::Rows> rows = source.Read(table);
    std::array<std::optional<std::size_t>, kColumns.size()> at;
    for (std::size_t i = 0; i < kColumns.size(); ++i) {
      at[i] = rows->Find(kColumns[i]);
    }
    sqlite::Transaction loading(db_);
    sqlite::Statement& insert =
        db_.Query("INSERT INTO lines VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10)");
    while (rows->Next()) {
      insert.Reset();
      insert.Bind(1, ValueAt(*rows, at[0])).Bind(2, rows->RowNumber());
      for (std::size_t i = 1; i < kColumns.size(); ++i) {
        insert.Bind(static_cast<int>(i) + 2, ValueAt(*rows, at[i]));
      }
      insert.Run();
    }
    db_.Execute("CREATE INDEX lines_by_voucher ON lines(voucher_id)");
    loading.Commit();
  }

  std::vector<books::Line> Of(const std::string& voucher_id) {
    sqlite::Statement& query = db_.Query(
        "SELECT line, ledger, item, godown, quantity, unit, rate, amount FROM lines"
        " WHERE voucher_id = ?1 ORDER BY CAST(line AS INTEGER), seq");
    query.Bind(1, voucher_id);
    std::vector<books::Line> lines;
    while (query.Step()) {
      lines.push_back({query.Text(0), query.Text(1), query.Text(2), query.Text(3), query.Text(4),
                       query.Text(5), query.Text(6), query.Text(7)});
    }
    query.Reset();
    return lines;
  }

 private:
  static constexpr std::array<const char*, 9> kColumns = {
      "VoucherID", "Line", "Ledger", "Item", "Godown", "Quantity", "Unit", "Rate", "Amount"};

  static sqlite::OpenOptions Options() {
    sqlite::OpenOptions options;
    options.name = "the temporary file of the source's voucher lines";
    options.raise = [](const std::string& message) {
      throw Failure(modTally::FailureNumber::kFile, message);
    };
    return options;
  }

  sqlite::Database db_;
};

struct Read {
  Document document;
  long row;
};

// The last day of the month `date` (YYYYMMDD) lies in.
std::string MonthEnd(std::string_view date) {
  const std::chrono::year_month_day first{
      std::chrono::year{std::stoi(std::string(date.substr(0, 4)))},
      std::chrono::month{static_cast<unsigned>(std::stoi(std::string(date.substr(4, 2))))},
      std::chrono::day{1}};
  const std::chrono::year_month_day_last last{first.year(), first.month() / std::chrono::last};
  char text[16];
  std::snprintf(text, sizeof text, "%04d%02u%02u", static_cast<int>(last.year()),
                static_cast<unsigned>(last.month()), static_cast<unsigned>(last.day()));
  return text;
}

// The first day of the month after the one `date` lies in.
std::string NextMonth(std::string_view date) {
  int year = std::stoi(std::string(date.substr(0, 4)));
  int month = std::stoi(std::string(date.substr(4, 2))) + 1;
  if (month > 12) {
    month = 1;
    ++year;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%04d%02d01", year, month);
  return text;
}

class Feed {
 public:
  Feed(source::Source& source, const DocumentsOptions& options)
      : source_(source), options_(options) {}
  DocumentsSummary Go();

 private:
  // The documents of `type` the Vouchers table holds, checked; the rest are told as rejected.
  // With `first`, the rows whose VoucherType names no type are told as rejected.
  std::vector<Read> ReadType(DocumentType type, LineSpool& lines, const std::string& table,
                             bool first);
  std::optional<std::string> MissingMaster(const Document& document);
  // Whether a document dated `date` is to be fed: always without a range, and when the date does
  // not read as one (its checks reject it).
  bool InRange(const std::string& date) const {
    if (!options_.range) {
      return true;
    }
    const std::optional<std::chrono::year_month_day> day = source::ParseDate(date);
    return !day || options_.range->Contains(*day);
  }
  // The books' documents of `type` dated from `from` to `to`, by VoucherID.
  std::map<std::string, books::BooksDocument> Books(DocumentType type, const std::string& from,
                                                    const std::string& to);
  // False when the feed has to stop.
  bool Send(const std::vector<const Read*>& batch);
  void Tell(const Read& read, DocumentOutcome::What what, const std::string& reason = {});

  source::Source& source_;
  const DocumentsOptions& options_;
  DocumentsSummary summary_;
  Names held_;
  std::array<bool, books::kMasterKinds.size()> asked_{};
};

void Feed::Tell(const Read& read, DocumentOutcome::What what, const std::string& reason) {
  TypeCounts& counts = summary_.types[TypeIndex(read.document.type)];
  using What = DocumentOutcome::What;
  (what == What::kSent       ? counts.sent
   : what == What::kInBooks  ? counts.in_books
   : what == What::kRejected ? counts.rejected
                             : counts.held_otherwise) += 1;
  if (options_.each) {
    options_.each({read.document.type, read.document.voucher_id, read.row, what, reason});
  }
}

std::vector<Read> Feed::ReadType(DocumentType type, LineSpool& lines, const std::string& table,
                                 bool first) {
  const std::unique_ptr<source::Rows> rows = source_.Read(table);
  const auto at = [&rows](const char* column) { return rows->Find(column); };
  const auto id = at("VoucherID"), kind = at("VoucherType"), date = at("Date"),
             number = at("Number"), reference = at("Reference"), party = at("Party"),
             narration = at("Narration");
  std::vector<Read> read;
  while (rows->Next()) {
    const std::optional<DocumentType> of = TypeOf(ValueAt(*rows, kind));
    // A row of no known type is every kind's business only when every kind is fed.
    if (!of && first && options_.types.size() == books::kDocumentTypes.size()) {
      ++summary_.unknown_types;
      if (options_.each) {
        options_.each({std::nullopt, ValueAt(*rows, id), static_cast<long>(rows->RowNumber()),
                       DocumentOutcome::What::kRejected,
                       books::UnknownType(ValueAt(*rows, id), ValueAt(*rows, kind)).Text()});
      }
    }
    if (of != type || !InRange(ValueAt(*rows, date))) {
      continue;
    }
    ++summary_.types[TypeIndex(type)].in_source;
    Read document{{ValueAt(*rows, id),
                   type,
                   ValueAt(*rows, date),
                   ValueAt(*rows, number),
                   ValueAt(*rows, reference),
                   ValueAt(*rows, party),
                   ValueAt(*rows, narration),
                   {}},
                  static_cast<long>(rows->RowNumber())};
    document.document.lines = lines.Of(document.document.voucher_id);
    if (const std::optional<books::Problem> problem = books::Check(document.document)) {
      Tell(document, DocumentOutcome::What::kRejected, problem->Text());
    } else if (const std::optional<std::string> missing = MissingMaster(document.document)) {
      Tell(document, DocumentOutcome::What::kRejected, *missing);
    } else {
      document.document.date = *books::SourceDate(document.document.date);
      read.push_back(std::move(document));
    }
  }
  return read;
}

std::optional<std::string> Feed::MissingMaster(const Document& document) {
  for (const books::MasterRef& need : books::Needs(document)) {
    const std::size_t kind = IndexOf(need.kind);
    if (!asked_[kind]) {
      held_[kind] = HeldNames(options_.server, options_.company, need.kind);
      asked_[kind] = true;
    }
    if (!held_[kind].contains(Key(need.name))) {
      return std::string("it names the ") + Singular(need.kind) + " \"" + need.name +
             "\", which the books do not hold";
    }
  }
  return std::nullopt;
}

std::map<std::string, books::BooksDocument> Feed::Books(DocumentType type, const std::string& from,
                                                        const std::string& to) {
  const std::string what = "cannot read the " + std::string(books::ServerName(type)) +
                           " vouchers of \"" + options_.company + "\" dated " + from + " to " + to +
                           " from " + modTally::ShownUrl(options_.server.url);
  modTally::Reply reply;
  try {
    reply = modTally::Exchange(
        options_.server,
        transfer::VoucherExportRequest(options_.company, from, to, books::ServerName(type)),
        options_.server.Import());
  } catch (const Failure& failure) {
    throw Failure(failure, what + ": " + failure.description());
  }
  pugi::xml_document xml;
  const pugi::xml_node root = modTally::ReadExportReply(xml, reply, {what, options_.company});
  std::map<std::string, books::BooksDocument> held;
  for (const pugi::xml_node voucher :
       root.child("BODY").child("DATA").child("COLLECTION").children("VOUCHER")) {
    if (std::optional<books::BooksDocument> read = books::ReadDocument(voucher)) {
      const std::string id = read->document.voucher_id;
      held.emplace(id, std::move(*read));
    }
  }
  return held;
}

bool Feed::Send(const std::vector<const Read*>& batch) {
  if (options_.dry_run) {
    for (const Read* read : batch) {
      Tell(*read, DocumentOutcome::What::kSent);
    }
    return true;
  }
  std::string request = transfer::ImportRequestHead(options_.company);
  for (const Read* read : batch) {
    books::AppendMessage(request, read->document);
  }
  request += transfer::kImportRequestTail;
  const std::string what = batch.size() == 1
                               ? "voucher \"" + batch.front()->document.voucher_id + "\""
                               : std::to_string(batch.size()) + " vouchers";
  ++summary_.requests;
  modTally::Reply reply;
  try {
    reply = modTally::Exchange(options_.server, request, options_.server.Import());
  } catch (const Failure& failure) {
    summary_.interrupted = options_.server.Cancelled();
    summary_.stopped = "the import of " + what + " failed: " + failure.description() +
                       "; nothing after it was sent";
    return false;
  }
  const transfer::ImportVerdict verdict =
      transfer::JudgeImport(reply, transfer::CountSentObjects(request));
  if (verdict.outcome == transfer::ImportOutcome::kNotImportReply) {
    summary_.stopped = "the import of " + what + " was answered with " + verdict.reason +
                       "; nothing after it was sent";
    return false;
  }
  if (verdict.outcome == transfer::ImportOutcome::kAccepted || batch.size() == 1) {
    for (const Read* read : batch) {
      Tell(*read,
           verdict.outcome == transfer::ImportOutcome::kAccepted ? DocumentOutcome::What::kSent
                                                                 : DocumentOutcome::What::kRejected,
           verdict.reason);
    }
    return true;
  }
  // The server refused something in the batch: each document again on its own finds which.
  for (const Read* read : batch) {
    if (!Send({read})) {
      return false;
    }
  }
  return true;
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
  LineSpool lines(source_, *lines_table);
  bool first_type = true;
  for (const DocumentType type : books::kDocumentTypes) {
    if (std::find(options_.types.begin(), options_.types.end(), type) == options_.types.end()) {
      continue;
    }
    std::vector<Read> read = ReadType(type, lines, *vouchers, first_type);
    first_type = false;
    if (read.empty()) {
      continue;
    }
    std::string first = read.front().document.date, last = first;
    for (const Read& r : read) {
      first = std::min(first, r.document.date);
      last = std::max(last, r.document.date);
    }
    // The books' copies, a month at a time (a reply stays small whatever the span).
    std::map<std::string, books::BooksDocument> held;
    for (std::string month = first.substr(0, 6) + "01"; month <= last; month = NextMonth(month)) {
      held.merge(Books(type, month, MonthEnd(month)));
    }
    std::vector<const Read*> to_send;
    for (const Read& r : read) {
      const auto found = held.find(r.document.voucher_id);
      if (found == held.end()) {
        to_send.push_back(&r);
        continue;
      }
      const std::vector<books::FieldDifference> differences =
          books::Compare(r.document, found->second);
      if (differences.empty()) {
        Tell(r, DocumentOutcome::What::kInBooks);
      } else if (options_.overwrite) {
        to_send.push_back(&r);
      } else {
        std::string said;
        for (const books::FieldDifference& d : differences) {
          said += (said.empty() ? "" : "; ") + d.field + ": \"" + d.source +
                  "\" in the source, \"" + d.books + "\" in the books";
        }
        Tell(r, DocumentOutcome::What::kHeldOtherwise,
             "the books hold it otherwise (" + said +
                 "); left alone, --overwrite sends the source's version");
      }
    }
    for (std::size_t at = 0; at < to_send.size(); at += static_cast<std::size_t>(options_.batch)) {
      if (options_.server.Cancelled()) {
        summary_.interrupted = true;
        return summary_;
      }
      const auto end = std::min(to_send.size(), at + static_cast<std::size_t>(options_.batch));
      if (!Send({to_send.begin() + static_cast<std::ptrdiff_t>(at),
                 to_send.begin() + static_cast<std::ptrdiff_t>(end)})) {
        return summary_;
      }
    }
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
  long failed = unknown_types;
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
        << " in the source, " << c.in_books << " already in the books as in the source, " << c.sent
        << (dry_run ? " to send, " : " sent, ") << c.rejected << " rejected, " << c.held_otherwise
        << " held otherwise\n";
  }
  if (summary.unknown_types > 0) {
    out << "Documents from the source whose VoucherType names no document type: "
        << summary.unknown_types << " rejected\n";
  }
}

}  // namespace lirvo::feed
