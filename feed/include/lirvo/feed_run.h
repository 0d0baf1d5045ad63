// One run of a source into the books, kind by kind, as the export dialog and `lirvo sync --source`
// make it: the masters ticked, then the documents, then SalesMst's sales through the journaled
// sync, with live counts per kind and every rejection told as it is known.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <lirvo/exit_status.h>
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
  const source::Kind* kind = nullptr;  // nullptr: a Vouchers row whose type names no kind
  std::string id;                      // the VoucherID, or the master's name
  std::string reason;
};

struct RunOptions {
  // The server, with its cancel flag: asked before every request, while one is in hand, and
  // between the kinds; when it is raised the request in hand is abandoned (the server may still
  // take it) and the run ends, with what is known recorded.
  modTally::Server server;
  std::string company;
  // The kinds to move, whichever order they come in (they go in the order of source::Kinds()).
  // Documents without every master kind bring the masters they name along (feed::DocumentsNeed),
  // each kind in a row of its own, as the sync does; SalesMst's sales create the units, items and
  // ledgers they need themselves.
  std::vector<const source::Kind*> kinds;
  // Documents dated outside it are left out. Unconfirmed whether the server itself refuses
  // documents outside the company's books period; they are simply not sent.
  std::optional<source::DateRange> range;
  std::filesystem::path journal;  // the sync's journal: every kind's outcomes are recorded in it
  int batch = sync::kDefaultBatch;
  // What Survey found in the source, for the rows in the source before each kind is read
  // (surveyed here when none is given).
  std::optional<source::Offer> offer;
  // Told the whole table, one entry per kind moved in the order of source::Kinds(), whenever a
  // figure changes (often: a caller that shows it should keep the latest and draw it at its pace).
  std::function<void(const std::vector<KindStatus>&)> progress;
  std::function<void(const KindRejection&)> rejected;
};

struct RunSummary {
  std::vector<KindStatus> kinds;  // as last told to `progress`: the kinds asked and the masters
                                  // fed for the documents
  std::optional<std::string> stopped;  // why the run ended early: nothing after it was sent
  bool interrupted = false;            // the cancel flag ended it
  RunOutcome outcome() const;
};

// Moves the kinds asked from `source` into `options.company`: the masters with FeedMasters, the
// documents with FeedDocuments, then, when Sales is asked and the source has SalesMst, its rows
// through sync::Sync with the journal. A failure on the way (the source or the books cannot
// be read, the server stops answering) ends the run with the reason in `stopped`; counts up to
// there stay. Throws modTally::Failure only when the options are unusable (no company).
RunSummary Run(const std::shared_ptr<source::Source>& source, const RunOptions& options);

}  // namespace lirvo::feed
