// Feeding the masters a source database holds into the books: each kind's table read and checked,
// what the books already hold left alone, the rest created in the order the server needs them.
#pragma once

#include <array>
#include <deque>
#include <filesystem>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <lirvo/books/document.h>
#include <lirvo/books/masters.h>
#include <lirvo/exit_status.h>
#include <lirvo/modTally.h>
#include <lirvo/source.h>
#include <lirvo/verify.h>

namespace lirvo::feed {

// What became of one master of the source. kHeldOtherwise: the books hold a master of that kind
// and name whose fields differ from the source's; it is left alone (a sync never alters one).
struct MasterOutcome {
  enum class What { kCreated, kInBooks, kRejected, kHeldOtherwise };
  books::MasterKind kind;
  std::string table;  // as the source spells it
  long row = 0;       // in its table, from 1
  std::string name;
  What what = What::kCreated;
  // Why it was rejected (the local check's words or the server's), or how the books hold it
  // otherwise.
  std::string reason;
  // kHeldOtherwise: every field in which the books' copy differs from the source.
  std::vector<books::FieldDifference> differences;
};

// A master that a table of documents implies rather than holds (SalesMst's units, stock items and
// ledgers): created when the books lack it, and otherwise left alone however they hold it (with
// trust_journal, taken to be in the books when the journal holds it as accepted in any form).
// Kept as its kind and names alone until it is fed: a source's sales imply thousands, and a
// record is over a kilobyte.
struct ImpliedMaster {
  books::MasterKind kind = books::MasterKind::kUnit;
  std::string name;   // trimmed
  std::string under;  // a ledger's parent group, a stock item's base unit; "" for a unit
  std::string table;  // the table that names it, as the source spells it
  long row = 0;       // the first row there that names it, from 1

  // The master, as MasterFromRow would build it from a row of these fields.
  books::MasterRecord Record() const;
};

struct MastersOptions {
  modTally::Server server;
  std::string company;
  // The kinds to feed, whichever order they are given in (they go in the order of
  // books::kMasterKinds); a kind whose table the source lacks is passed over.
  std::vector<books::MasterKind> kinds{books::kMasterKinds.begin(), books::kMasterKinds.end()};
  // Masters fed besides those of `kinds`, by kind and name (those the documents fed need); a name
  // the source does not hold is passed over. Whatever a master fed needs (a parent, a unit) is
  // fed too when the source holds it, whatever its kind.
  std::vector<books::MasterRef> also;
  // Fed besides, whatever `kinds` are: those of a kind and name that a table of the source holds
  // are passed over (the table's row is fed). A deque, so that the thousands a source's sales
  // imply are not moved each time it grows.
  std::deque<ImpliedMaster> implied;
  bool dry_run = false;  // read and check everything, send nothing
  int batch = 200;       // masters per request
  // The sync's journal (none when empty): each master's outcome is recorded in it as the server
  // answers, and those found in the books are noted as accepted. With `trust_journal`, a master it
  // holds as accepted, unchanged, is taken to be in the books: a kind whose every master is so
  // taken is not read back.
  std::filesystem::path journal;
  bool trust_journal = false;
  std::function<void(const MasterOutcome&)> each;  // told every master's outcome as it is known
};

struct KindCounts {
  long in_source = 0;
  long in_books = 0;  // left alone: the books hold it by kind and name, as the source has it
  long trusted = 0;   // of in_books, taken from the journal without reading the books
  long created = 0;   // (with dry_run: to create)
  long rejected = 0;
  long held_otherwise = 0;  // left alone: the books hold it with other values than the source
};

struct MastersSummary {
  std::array<KindCounts, books::kMasterKinds.size()> kinds{};  // in the order of kMasterKinds
  long requests = 0;
  std::optional<std::string> stopped;  // why the feed stopped early; nothing after it was sent
  bool interrupted = false;            // the server's cancel flag stopped it
  RunOutcome outcome() const;
};

// Reads the master tables of `source` (each checked against the layout; a row of a master fed that
// does not make one is rejected with the reason), reads which of the masters fed the company
// holds, with their fields (one request per kind; one whose fields differ from the source's is
// told as held otherwise and left alone), and creates the others in batches of `batch`, parents
// first: a request holds masters none of which needs another of it, and a batch the server
// refuses is split in halves until each refused master has the server's reason. A master whose
// parent, base unit or additional unit is neither in the books, nor in the source, nor
// predefined is rejected locally naming it. A reply that is not an import reply, or an exchange
// that fails, twice, stops the feed: `stopped` says so. Throws modTally::Failure when the source
// or the books cannot be read. The options are taken by value: `implied` is moved into the feed.
MastersSummary FeedMasters(source::Source& source, MastersOptions options);

// The summary for people: one line per kind the source holds ("to create" in a dry run).
void PrintMastersSummary(std::ostream& out, const MastersSummary& summary, bool dry_run);

// What became of one document of the source.
struct DocumentOutcome {
  // kOnlyInBooks: a document of the books that the source does not hold (told only with
  // DocumentsOptions::tell_books_only; `row` is 0, `reason` says its date).
  enum class What { kSent, kInBooks, kRejected, kHeldOtherwise, kOnlyInBooks };
  std::optional<books::DocumentType> type;  // none: its VoucherType names no document type
  std::string voucher_id;
  long row = 0;  // in Vouchers, from 1
  What what = What::kSent;
  std::string reason;  // why it was rejected, or how the books hold it otherwise
  // kRejected: the document passed its own checks but names a master the books do not hold.
  bool lacks_master = false;
  // kHeldOtherwise: every field in which the books' copy differs from the source.
  std::vector<books::FieldDifference> differences;
  // kRejected: a line of VoucherLines (`row` is its row there) whose VoucherID no voucher has.
  bool orphan_line = false;
  bool sales_mst = false;  // a row of SalesMst (`row` is its row there), not of Vouchers
  // YYYYMMDD: the source's date of a document that passed its checks; the books' of kOnlyInBooks.
  std::string date = {};
};

struct DocumentsSummary;

struct DocumentsOptions {
  modTally::Server server;
  std::string company;
  std::vector<books::DocumentType> types{books::kDocumentTypes.begin(),
                                         books::kDocumentTypes.end()};
  bool dry_run = false;
  // Send the source's version of the documents the books hold otherwise (by default they are
  // named and left alone: someone may have corrected them in the books).
  bool overwrite = false;
  // Also tell (as kOnlyInBooks) each document the books hold, of a type fed and dated within a
  // range read back, whose VoucherID the source does not hold: what verify names.
  bool tell_books_only = false;
  int batch = 200;  // documents per request
  // Only the documents dated in it (none: every date). A document whose date does not read as one
  // is read, for its checks to reject.
  std::optional<source::DateRange> range;
  // The sync's journal (none when empty), kept as for the masters (MastersOptions::journal): with
  // `trust_journal`, a document it holds as accepted, unchanged, is taken to be in the books, and
  // a range of days whose every document is so taken is not read back.
  std::filesystem::path journal;
  bool trust_journal = false;
  // In a dry run, the masters the same run would create before the documents: a document that
  // names one is not rejected for want of it.
  std::vector<books::MasterRef> to_create;
  std::function<void(const DocumentOutcome&)> each;
  // Called once the source is read, before the first document is checked, with each type's
  // documents in the source counted: what has to go before the documents but is known only once
  // they are read (the masters SalesMst's rows imply) goes here. Masters it adds to `to_create`
  // count as there, as those of the member; false stops the feed.
  std::function<bool(const DocumentsSummary&, std::vector<books::MasterRef>& to_create)> loaded;
};

struct TypeCounts {
  long in_source = 0;
  long in_books = 0;  // the books hold it as the source has it: not sent
  long trusted = 0;   // of in_books, taken from the journal without reading the books
  long sent = 0;      // accepted (with dry_run: to send)
  long rejected = 0;
  long held_otherwise = 0;
  // Documents the journal held as accepted that the books lack: sent again (with dry_run: to send).
  long missing_in_books = 0;
};

struct DocumentsSummary {
  std::array<TypeCounts, books::kDocumentTypes.size()> types{};  // in the order of kDocumentTypes
  long unknown_types = 0;  // Vouchers rows whose VoucherType names no document type (rejected)
  long orphan_lines = 0;   // VoucherLines rows whose VoucherID no voucher has (rejected)
  long requests = 0;
  std::optional<std::string> stopped;
  bool interrupted = false;
  RunOutcome outcome() const;
};

// Reads the source's Vouchers (of `options.types`) with their VoucherLines (both spooled to a
// temporary file and walked a type and a range of days at a time, so memory does not grow with
// the source), checks each document (books::Check, and that the books hold every master it
// names), reads the books' documents of each type back over ranges of the source's days holding
// about 500 of its documents each, and sends in batches what the books lack (and, with
// `overwrite`, what they hold otherwise); a batch the server refuses is sent again in halves
// until each refused document is alone with the server's reason; a request that fails or is not
// answered with an import reply is tried once more, then stops the feed. A document the books hold
// as the source has it is not sent, so a re-run sends nothing. Throws modTally::Failure when the
// source or the books cannot be read.
DocumentsSummary FeedDocuments(source::Source& source, const DocumentsOptions& options);

void PrintDocumentsSummary(std::ostream& out, const DocumentsSummary& summary, bool dry_run);

// The masters the source's documents of `types` dated in `range` name (their parties, ledgers,
// stock items, units and godowns), each once: what MastersOptions::also takes when documents
// are fed without their masters' kinds. Throws modTally::Failure when the source cannot be read.
std::vector<books::MasterRef> DocumentsNeed(source::Source& source,
                                            const std::vector<books::DocumentType>& types,
                                            const std::optional<source::DateRange>& range);

// Checking what landed from a source: `lirvo verify --source` for its masters and documents.

struct SourceVerifyOptions {
  modTally::Server server;
  std::string company;
  std::vector<books::MasterKind> kinds{books::kMasterKinds.begin(), books::kMasterKinds.end()};
  std::vector<books::DocumentType> types{books::kDocumentTypes.begin(),
                                         books::kDocumentTypes.end()};
  std::optional<source::DateRange> range;  // only the documents dated in it (none: every date)
  // Told every master and document that is not in the books as the source has it, as it is
  // known: kMasterMissing (voucher_id "TABLE: NAME"), kMissing, kDifferent (one finding per
  // field) or kNotExpected (the reason in `source`).
  std::function<void(const verify::Finding&)> finding;
};

// How the masters of one kind, or the documents of one type, stand.
struct VerifyCounts {
  long in_source = 0;
  long match = 0;          // in the books as the source has it
  long missing = 0;        // not in the books
  long different = 0;      // in the books otherwise (a master: by its name, with other fields)
  long not_expected = 0;   // failing the local checks: a sync would never send them
  long not_in_source = 0;  // documents: in the books, dated within the source's, not in it
};

struct SourceVerifySummary {
  std::array<VerifyCounts, books::kMasterKinds.size()> masters{};      // as kMasterKinds
  std::array<VerifyCounts, books::kDocumentTypes.size()> documents{};  // as kDocumentTypes
  long unknown_types = 0;  // Vouchers rows whose VoucherType names no document type
  long orphan_lines = 0;   // VoucherLines rows whose VoucherID no voucher has
  // kComplete when nothing is missing or different; rows that fail the local checks do not
  // count: a sync never sends them.
  RunOutcome outcome() const;
};

// Compares the books of `options.company` with the source's master tables and documents of the
// kinds asked for, reading both as a dry run of FeedMasters and FeedDocuments does: a master the
// books do not hold by its name is missing, one they hold with other values (its parent, a
// stock item's units, any other field the source's row sets) is different; a document is read back
// by type and month and compared field by field (books::Compare), matched by VoucherID = REMOTEID;
// one naming a master the books lack is missing. Throws modTally::Failure when the source or the
// books cannot be read.
SourceVerifySummary VerifySource(source::Source& source, const SourceVerifyOptions& options);

// The summary for people: one line per kind the source holds, then whether all is well.
void PrintSourceVerifySummary(std::ostream& out, const SourceVerifySummary& summary);

}  // namespace lirvo::feed
