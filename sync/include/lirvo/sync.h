// The whole sales table into the books: the source rows streamed with their local checks, the
// masters the vouchers need created once, the vouchers posted in batches whose rejected rows are
// found by splitting, and a journal that makes a re-run post only what is new, changed or was
// rejected before. Without any window; the `lirvo sync` command builds on it, reading the books
// back with the verification's scan (lirvo/verify.h).
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <lirvo/books/sales.h>
#include <lirvo/exit_status.h>
#include <lirvo/modTally.h>
#include <lirvo/verify.h>

namespace lirvo::sync {

// The progress the sync shows is the verification's, whose phases include the sync's.
using verify::SyncPhase;
using verify::SyncProgress;

// ---------------------------------------------------------------------------------------------
// The journal's place

// $XDG_STATE_HOME/lirvo/sync-journal.sqlite, or ~/.local/state/lirvo/sync-journal.sqlite when
// XDG_STATE_HOME is not set (relative paths are ignored as the XDG rules say). Throws
// modTally::Failure (kSetting) when neither names a folder.
std::filesystem::path DefaultJournalPath();

// ---------------------------------------------------------------------------------------------
// The sync

// The batch size used when none is given. Measured with lirvo-bench's X5_SyncBatchSizes (the
// whole of sales-20k into the stand-in): 25, 50, 100, 200, 400 took 4.7, 3.1, 2.8, 2.3, 2.2 s.
// 200 is within a tenth of the best, and half the size of a request of 400: a batch that fails
// costs less to split, and it stays within the few hundred vouchers a request that integrators
// of the real server report as safe.
inline constexpr int kDefaultBatch = 200;
inline constexpr int kLargestBatch = 500;

// One row that did not get into the books.
struct SyncRejection {
  std::string voucher_id;         // empty when the row has none
  long row = 0;                   // row number in the table
  std::string reason;             // the local check's reason, the server's own words, or the fields
                                  // in which the books hold the voucher otherwise
  bool local = false;             // rejected before sending
  bool differs_in_books = false;  // not sent: the books hold it otherwise (see `overwrite`)
};

struct SyncOptions {
  // The server; its cancel flag is asked before every request, every few rows and several times
  // a second while a request or a pre-flight query is in hand: true abandons that request and
  // stops the run. With the UTF-8 request encoding, in which the server keeps only what
  // Windows-1252 holds, the rows Windows1252Loss names are rejected locally.
  modTally::Server server;
  std::string company;  // the company the masters and vouchers go to (not empty)
  std::filesystem::path database;
  std::optional<books::SalesRows> rows;  // read instead of `database` when set
  std::filesystem::path journal;         // the journal file; created with its folder when missing
  int batch = kDefaultBatch;             // vouchers (and masters) per request, 1..kLargestBatch
  bool dry_run = false;                  // pre-flight and local checks only; nothing is posted
  long row_limit = 0;                    // only the first rows of the table (0: all)
  // The books are read back before anything is sent, so that a row is skipped only when the books
  // hold it as the source has it. With `trust_journal` they are not read: a row the journal holds
  // as accepted, unchanged, is taken to be in the books on the user's word.
  bool trust_journal = false;
  // Send the source's version of the rows the books hold in another form (by default they are
  // named and left alone: someone may have corrected them in the books).
  bool overwrite = false;
  std::function<void(const SyncProgress&)> progress;
  // Called for every rejected row as it is known (for the report).
  std::function<void(const SyncRejection&)> rejected;
};

struct MasterCounts {
  long needed = 0;   // distinct masters the vouchers need
  long present = 0;  // of them, already in the company
  long created = 0;  // created now (dry run: would be created)
  long failed = 0;   // the server refused to create them
};

struct SyncSummary {
  long rows = 0;  // rows in the table
  MasterCounts units, ledgers, items;
  std::vector<std::string> master_failures;  // the first few masters refused, with the reason
  long accepted = 0;          // vouchers the server accepted in this run (dry run: would send)
  long rejected_locally = 0;  // rows the local checks refused
  long rejected_by_server = 0;
  bool books_checked = false;  // the books were read back (not with trust_journal or a dry run)
  // Rows not sent because the books hold them as the source has them (with trust_journal: because
  // the journal holds them as accepted, unchanged).
  long unchanged = 0;
  long differ_in_books = 0;   // rows the books hold in another form: named, left alone
  long missing_in_books = 0;  // rows the journal held as accepted that the books lack: sent again
  long skipped = 0;           // rows left unsent because the run stopped or was interrupted
  long requests = 0;          // import requests sent
  long split_requests = 0;    // of them, sent only to find the rejected rows of a batch
  std::chrono::duration<double> time{};
  bool dry_run = false;
  bool interrupted = false;
  std::optional<std::string> stopped;  // why the run stopped before the end

  // kComplete: every row is in the books (seen there, or with trust_journal in the journal's
  // word); kIncomplete: some rows were rejected or differ in the books.
  RunOutcome outcome() const;
};

// Runs the sync. Never throws for what happens on the way: a failure that stops the run is in
// `stopped` (naming the row), with everything acknowledged before it recorded in the journal.
// Throws modTally::Failure only when the options are unusable (no company, batch out of range)
// or the journal cannot be opened.
SyncSummary Sync(const SyncOptions& options);

// The company that is current in the server at `url` ("" when it names none). Throws
// modTally::Failure when the query fails or the reply is not its answer (an HTTP error, a web
// page, a LINEERROR: see modTally::ReadExportReply).
std::string CurrentCompany(const modTally::Server& server);

// The summary for people: masters, vouchers, requests and time, one topic a line.
void PrintSummary(std::ostream& out, const SyncSummary& summary);

// Shows SyncProgress on a stream: on a terminal one line rewritten with "\r" (phase, done of
// total, rate, time left), at most ten times a second; elsewhere a plain line at each phase's
// start and end, and in between at least every 10 % or 5 s. A request that has waited a second or
// more for its reply adds "waiting 35 s for the server's reply to 200 vouchers" (on a pipe, a line
// when the wait passes a second, then every 5 s).
class ProgressPrinter {
 public:
  ProgressPrinter(std::ostream& out, bool terminal);
  void Show(const SyncProgress& progress);
  // Ends a rewritten line so that what follows starts on a line of its own.
  void Finish();

 private:
  using Clock = std::chrono::steady_clock;
  // The line for `progress` without the wait: phase, done of total, rate, time left.
  std::string Line(const SyncProgress& progress, Clock::time_point now) const;
  void ShowWait(const SyncProgress& progress);
  void Emit(std::string line);

  std::ostream& out_;
  bool terminal_;
  SyncPhase phase_ = SyncPhase::kReading;
  bool started_ = false;
  Clock::time_point phase_start_{};
  Clock::time_point last_shown_{};
  long last_done_ = 0;
  std::size_t line_width_ = 0;
  double wait_told_ = 0;  // the wait last shown for the request in hand, in seconds
};

}  // namespace lirvo::sync
