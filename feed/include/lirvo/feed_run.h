// One run of a source into the books, kind by kind, as the export dialog and `lirvo sync --source`
// make it: the masters ticked, then the documents (SalesMst's sales among them), with live counts
// per kind and every rejection told as it is known.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <lirvo/exit_status.h>
#include <lirvo/feed.h>
#include <lirvo/modTally.h>
#include <lirvo/source.h>
#include <lirvo/source_layout.h>
#include <lirvo/sync.h>

namespace lirvo::feed {

// Where one kind stands.
struct KindStatus {
  const source::Kind* kind = nullptr;
  long in_source = 0;  // rows (masters) or documents the source holds of it
  long in_books = 0;   // left alone: the books hold them as the source has them
  long sent = 0;       // put to the books in this run: accepted + rejected
  long accepted = 0;
  long rejected = 0;  // refused by the local checks or the server, or held otherwise in the books
  std::chrono::duration<double> time{};  // spent on this kind so far
  bool done = false;                     // the kind's part of the run is over
};

// One master or document that did not get into the books.
struct KindRejection {
  const source::Kind* kind = nullptr;  // nullptr: a row of Vouchers or VoucherLines of no kind
  std::string id;                      // the VoucherID, or the master's name
  std::string reason;                  // the local check's words or the server's
  // Where it is: a master's table as the source spells it, or Vouchers, VoucherLines (a line of
  // no voucher) or SalesMst; its row there, from 1.
  std::string table;
  long row = 0;
  bool held_otherwise = false;  // not sent: the books hold it otherwise (`reason` says how)
  // The reason as the export dialog lists it: one held otherwise said so, and a master's table
  // and row before it.
  std::string Told() const;
};

struct RunOptions {
  // The server, with its cancel flag: asked before every request, while one is in hand, and
  // between the kinds; when it is raised the request in hand is abandoned (the server may still
  // take it) and the run ends, with what is known recorded.
  modTally::Server server;
  std::string company;
  // The kinds to move, whichever order they come in (they go in the order of source::Kinds()).
  // Documents without every master kind bring the masters they name along (feed::DocumentsNeed),
  // each kind in a row of its own; SalesMst's sales bring the units, stock items and ledgers their
  // rows imply (feed::ImpliedMaster).
  std::vector<const source::Kind*> kinds;
  // Documents dated outside it are left out. Unconfirmed whether the server itself refuses
  // documents outside the company's books period; they are simply not sent.
  std::optional<source::DateRange> range;
  std::filesystem::path journal;  // the sync's journal: every kind's outcomes are recorded in it
  int batch = sync::kDefaultBatch;
  bool dry_run = false;  // read and check everything, send nothing, journal nothing
  // Take the journal's word, not the books', for what it holds as accepted, unchanged (as
  // MastersOptions and DocumentsOptions take it).
  bool trust_journal = false;
  bool overwrite = false;  // send the source's version of what the books hold otherwise
  long row_limit = 0;      // only the first rows of SalesMst (0: all)
  // What Survey found in the source, for the rows in the source before each kind is read
  // (surveyed here when none is given and `progress` is set; otherwise a kind's rows in the
  // source are known when its part ends).
  std::optional<source::Offer> offer;
  // Told the whole table, one entry per kind moved in the order of source::Kinds(), whenever a
  // figure changes (often: a caller that shows it should keep the latest and draw it at its pace).
  std::function<void(const std::vector<KindStatus>&)> progress;
  std::function<void(const KindRejection&)> rejected;
  // For a caller that prints as it goes: each part's summary as the part ends, before the next
  // starts.
  std::function<void(const MastersSummary&)> masters_fed;
  std::function<void(const DocumentsSummary&)> documents_fed;
};

struct RunSummary {
  std::vector<KindStatus> kinds;  // as last told to `progress`: the kinds asked and the masters
                                  // fed for the documents
  // The summary of each part that ran to its end or its stop.
  std::optional<MastersSummary> masters;
  std::optional<DocumentsSummary> documents;
  std::optional<std::string> stopped;  // why the run ended early: nothing after it was sent
  // `stopped` is a failure that ended a part before it could sum up: the source, the books or
  // the journal could not be read.
  bool failed = false;
  bool interrupted = false;  // the cancel flag ended it
  // Interrupted, stopped, incomplete when a part left anything out of the books (rows of no kind
  // and masters a sale needed included), else complete.
  RunOutcome outcome() const;
};

// Moves the kinds asked from `source` into `options.company`: the masters with FeedMasters, then
// the documents with FeedDocuments, SalesMst's rows (when Sales is asked and the source has it)
// after those of Vouchers. A failure on the way (the source or the books cannot
// be read, the server stops answering) ends the run with the reason in `stopped`; counts up to
// there stay. Throws modTally::Failure only when the options are unusable (no company).
RunSummary Run(const std::shared_ptr<source::Source>& source, const RunOptions& options);

}  // namespace lirvo::feed
