// sync: the whole SalesMst table into the server's books, batched, journaled and resumable; see
// the README's "Moving a whole table: lirvo sync".
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <iostream>
#include <limits>
#include <memory>

#include <CLI/CLI.hpp>

#include <lirvo/feed_run.h>
#include <lirvo/source_layout.h>
#include <lirvo/sync.h>

#include "commands.h"
#include "source_login.h"
#include "table_run.h"

namespace lirvo::cli {

namespace {

// Set by SIGINT or SIGTERM; the sync asks it before every request. The handler only stores to a
// lock-free atomic, and resets itself, so a second Ctrl-C ends the program at once.
std::atomic<bool> interrupt_requested{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void OnInterrupt(int) {
  interrupt_requested.store(true);
}

// Installs the handler for the life of the object and puts the previous ones back after.
class InterruptGuard {
 public:
  InterruptGuard() {
    interrupt_requested.store(false);
    struct sigaction action {};
    action.sa_handler = &OnInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    sigaction(SIGINT, &action, &previous_int_);
    sigaction(SIGTERM, &action, &previous_term_);
  }
  ~InterruptGuard() {
    sigaction(SIGINT, &previous_int_, nullptr);
    sigaction(SIGTERM, &previous_term_, nullptr);
  }
  InterruptGuard(const InterruptGuard&) = delete;
  InterruptGuard& operator=(const InterruptGuard&) = delete;

 private:
  struct sigaction previous_int_ {};
  struct sigaction previous_term_ {};
};

struct SyncValues {
  std::string db;
  std::string source;
  std::string user;
  std::vector<std::string> kinds;
  std::string company;
  int batch = sync::kDefaultBatch;
  std::string journal;
  std::string report;
  bool dry_run = false;
  long limit = 0;
  bool verify = false;
  bool trust_journal = false;
  bool overwrite = false;
  DateRangeValues dates;
  std::optional<source::DateRange> range;  // from `dates`
};

// What a run works with once the command line is read.
struct Run {
  modTally::Server server;
  std::filesystem::path journal;
  std::string company;
  ReportFile report;
  long rejected = 0;
  bool dry_run = false;
  sync::ProgressPrinter progress{std::cerr, isatty(STDERR_FILENO) != 0};
  sync::SyncProgress last_shown{sync::SyncPhase::kMasters, 0, 0, {}, 0};  // the last progress shown

  // Puts what did not get into the books in the report: a master by its table and name, a
  // document or a sale by its VoucherID.
  void Reject(const feed::KindRejection& rejection) {
    ++rejected;
    const std::string what = rejection.held_otherwise ? "Held otherwise: " : "Rejected: ";
    const std::string row = std::to_string(rejection.row);
    if (rejection.kind != nullptr && !rejection.kind->document()) {
      report.Add(CsvField(rejection.table + ": " + rejection.id) + ',' + row + ',' +
                     CsvField(rejection.reason),
                 what + rejection.table + " row " + row + " (\"" + rejection.id +
                     "\"): " + rejection.reason);
      return;
    }
    const std::string table = rejection.table == source::kSalesTable ? "" : rejection.table + " ";
    report.Add(
        CsvField(rejection.id) + ',' + row + ',' + CsvField(rejection.reason),
        what + table + "row " + row + " (VoucherID \"" + rejection.id + "\"): " + rejection.reason);
  }

  // The documents' progress: those decided (left alone, sent or rejected) of those in the source;
  // a dry run sends nothing, and says it checks them.
  void Show(const std::vector<feed::KindStatus>& kinds) {
    sync::SyncProgress shown{
        dry_run ? sync::SyncPhase::kReading : sync::SyncPhase::kVouchers, 0, 0, {}, 0};
    for (const feed::KindStatus& status : kinds) {
      if (status.kind->document()) {
        shown.done += status.in_books + status.sent;
        shown.total += status.in_source;
      }
    }
    if (shown.total > 0) {
      progress.Show(shown);
      last_shown = shown;
    }
  }

  // A request in hand that has waited `seconds` for its reply.
  void Waiting(double seconds) {
    sync::SyncProgress waiting = last_shown;
    waiting.waiting = std::chrono::duration<double>(seconds);
    progress.Show(waiting);
  }

  // What the run came to: the rejections, why it stopped (`failed`: a failure ended it before
  // it could sum up); the exit status.
  int Conclude(RunOutcome outcome, const std::optional<std::string>& stopped, bool failed) {
    progress.Finish();
    const bool reported = report.Finish(std::cout, "Rejected: ", rejected);
    if (stopped) {
      std::cerr << "lirvo: " << (failed ? "" : "the sync stopped: ") << *stopped << '\n';
    }
    return reported ? ExitStatusOf(outcome) : kExitFailure;
  }
};

// The masters, then the documents and SalesMst's sales, as feed::Run moves them, each part's
// summary printed as it ends.
int SyncSource(const SyncValues& values, const std::shared_ptr<source::Source>& db, Run& run) {
  feed::RunOptions options;
  options.server = run.server;
  options.company = run.company;
  options.journal = run.journal;
  for (const std::string& name : values.kinds) {
    options.kinds.push_back(source::FindKind(name));
  }
  if (options.kinds.empty()) {  // every kind
    for (const source::Kind& kind : source::Kinds()) {
      options.kinds.push_back(&kind);
    }
  }
  options.range = values.range;
  options.batch = values.batch;
  options.dry_run = values.dry_run;
  options.trust_journal = values.trust_journal;
  options.overwrite = values.overwrite;
  options.row_limit = values.limit;
  options.rejected = [&run](const feed::KindRejection& rejection) { run.Reject(rejection); };
  options.masters_fed = [&values, &run](const feed::MastersSummary& summary) {
    run.progress.Finish();
    feed::PrintMastersSummary(std::cout, summary, values.dry_run);
  };
  options.documents_fed = [&values, &run](const feed::DocumentsSummary& summary) {
    run.progress.Finish();
    feed::PrintDocumentsSummary(std::cout, summary, values.dry_run);
  };
  // The progress counts the documents as the feed reads them, without a survey of the source.
  options.offer = source::Offer{};
  options.progress = [&run](const std::vector<feed::KindStatus>& kinds) { run.Show(kinds); };
  options.server.imports.waiting = [&run](double seconds) { run.Waiting(seconds); };
  const feed::RunSummary summary = feed::Run(db, options);
  run.progress.Finish();
  const long requests = (summary.masters ? summary.masters->requests : 0) +
                        (summary.documents ? summary.documents->requests : 0);
  long in_source = 0;
  for (const feed::KindStatus& status : summary.kinds) {
    in_source += status.in_source;
  }
  const bool nothing = in_source == 0 && !summary.stopped &&
                       (!summary.documents || (summary.documents->unknown_types == 0 &&
                                               summary.documents->orphan_lines == 0));
  if (nothing) {
    std::cout << "Nothing to move: the source holds nothing of the kinds asked"
              << (values.range ? " in the days asked" : "") << ".\n";
  }
  // A run stopped before sending anything says so alone, without a count of none.
  if (!values.dry_run && !nothing && !(summary.stopped && requests == 0)) {
    std::cout << "Requests: " << requests
              << (requests == 1 ? " import request" : " import requests") << " sent\n";
  }
  if (summary.interrupted) {
    std::cout << "Interrupted: what was acknowledged is in the journal; run it again to go on.\n";
  }
  return run.Conclude(summary.outcome(), summary.stopped, summary.failed);
}

// Long: what every sync does before its rows move (the journal, the server, the rows, the report,
// the company, Ctrl-C, the first line), each step a few lines that read best in order.
int RunSync(const SyncValues& values) {
  Run run;
  run.dry_run = values.dry_run;
  std::shared_ptr<source::Source> db;
  std::string what = values.db;
  try {
    run.journal =
        values.journal.empty() ? sync::DefaultJournalPath() : std::filesystem::path(values.journal);
    run.server = modTally::Server::FromEnvironment();
    if (!values.source.empty()) {
      db = source::Open(source::ParseUri(values.source), SourceLogin(values.user));
      what = db->name();
      const std::optional<std::string> sales = db->FindTable(source::kSalesTable);
      if (sales && KindsOf(values.kinds).value_or(KindsToMove{}).sales_table) {
        what += " (" + *sales + ")";
      }
    } else {
      db = AccessSalesMst(values.db);
    }
  } catch (const modTally::Failure& failure) {
    std::cerr << "lirvo: " << failure.description() << '\n';
    return kExitFailure;
  }
  if (!run.report.Open(values.report, "VoucherID,row,reason")) {
    return kExitFailure;
  }
  const std::optional<std::string> company = CompanyToUse(values.company, run.server);
  if (!company) {
    return kExitFailure;
  }
  run.company = *company;
  const InterruptGuard guard;
  run.server.cancelled = [] { return interrupt_requested.load(); };
  std::cout << (values.dry_run ? "Checking " : "Syncing ") << what << " into \"" << run.company
            << "\" at " << modTally::ShownUrl(run.server.url) << " (journal "
            << run.journal.string() << ")\n"
            << std::flush;
  return SyncSource(values, db, run);
}

}  // namespace

// Long: one option after another, each with its help text.
void AddSyncCommand(CLI::App& app, int& status) {
  auto values = std::make_shared<SyncValues>();
  CLI::App* sync = app.add_subcommand(
      "sync",
      "Move every row of SalesMst into the server: the masters it needs, then the vouchers in "
      "batches; the books are read back first, so a re-run sends only what they lack or what "
      "changed in the source. With --source, the source's master tables and Vouchers go in "
      "first, each kind in the order the server needs (--kinds picks them).\nExit status: 0 every "
      "row is in the books, 1 stopped (reason on stderr), 2 usage "
      "error, 3 some rows "
      "were rejected or are held otherwise in the books, 130 interrupted.");
  AddRowsOptions(*sync, values->db, values->source, values->user);
  AddKindsOption(*sync, values->kinds, "move");
  sync->add_option("--company", values->company, "the company (default: the server's current one)");
  sync->add_option("--batch", values->batch, "vouchers or masters per request")
      ->check(WholeNumber(1, sync::kLargestBatch))
      ->capture_default_str();
  sync->add_option("--journal", values->journal,
                   "the journal file (default: $XDG_STATE_HOME/lirvo/sync-journal.sqlite or "
                   "~/.local/state/lirvo/sync-journal.sqlite)");
  sync->add_option(
      "--report", values->report,
      "write the rejected rows, and those held otherwise in the books, to this CSV file "
      "(VoucherID,row,reason)");
  CLI::Option* limit =
      sync->add_option("--limit", values->limit,
                       "only the first N rows of the table (to try a sync on part of it first)")
          ->check(WholeNumber(1, std::numeric_limits<long>::max()));
  AddDateRangeOptions(*sync, values->dates);
  sync->add_flag("--dry-run", values->dry_run,
                 "read the company's masters and check the rows; send nothing");
  sync->add_flag("--trust-journal", values->trust_journal,
                 "do not read the books back first: take the rows the journal holds as accepted, "
                 "unchanged, to be in the books (only when nothing has changed there since); with "
                 "--source, the same for its masters and documents: a kind, or a range of days, "
                 "whose every one the journal holds so is not read back");
  sync->add_flag("--overwrite", values->overwrite,
                 "send the source's version of the rows the books hold in another form (by "
                 "default they are named and left alone)");
  sync->add_flag("--verify", values->verify,
                 "afterwards, compare the books with the whole table as lirvo verify does")
      ->excludes(limit);
  sync->callback([values, &status] {
    RequireRows(values->db, values->source);
    if (!values->kinds.empty() && values->source.empty()) {
      throw CLI::ValidationError("--kinds", "takes effect with --source only");
    }
    values->range = RangeOf(values->dates);
    status = RunSync(*values);
    if (values->verify && !values->dry_run) {
      const auto date = [&values](const std::string& given, std::chrono::year_month_day day) {
        return given.empty() && values->dates.year.empty() ? std::string() : Yyyymmdd(day);
      };
      status = VerifyAfterSync(
          status, {values->db, values->source, values->user, values->company,
                   values->range ? date(values->dates.from, values->range->from) : std::string(),
                   values->range ? date(values->dates.to, values->range->to) : std::string(), "",
                   values->kinds});
    }
  });
}

}  // namespace lirvo::cli
