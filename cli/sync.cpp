// sync: the whole SalesMst table into the server's books, batched, journaled and resumable; see
// the README's "Moving a whole table: lirvo sync".
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <iostream>
#include <limits>
#include <memory>

#include <CLI/CLI.hpp>

#include <lirvo/feed.h>
#include <lirvo/sales_rows.h>
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

// Long: the command's one sequence (source, report, company, masters, documents, sales, summary),
// each step a few lines that read best in order.
int RunSync(const SyncValues& values) {
  sync::SyncOptions options;
  options.database = values.db;
  options.batch = values.batch;
  options.dry_run = values.dry_run;
  options.row_limit = values.limit;
  options.trust_journal = values.trust_journal;
  options.overwrite = values.overwrite;
  try {
    options.journal =
        values.journal.empty() ? sync::DefaultJournalPath() : std::filesystem::path(values.journal);
    options.server = modTally::Server::FromEnvironment();
  } catch (const modTally::Failure& failure) {
    std::cerr << "lirvo: " << failure.description() << '\n';
    return kExitFailure;
  }

  // From a source: its masters first, then its SalesMst (when the kinds take it in).
  std::shared_ptr<source::Source> db;
  const KindsToMove kinds = KindsOf(values.kinds).value_or(KindsToMove{});
  if (values.source.empty() && values.range) {
    // The dates are applied as the rows come: the Access file is read as a source.
    try {
      options.rows =
          source::SalesRowsOf(source::Open({source::Scheme::kAccess, values.db}), values.range);
    } catch (const modTally::Failure& failure) {
      std::cerr << "lirvo: " << failure.description() << '\n';
      return kExitFailure;
    }
  } else if (!values.source.empty()) {
    try {
      db = source::Open(source::ParseUri(values.source), SourceLogin(values.user));
      if (kinds.sales_table && db->FindTable(source::kSalesTable)) {
        options.rows = source::SalesRowsOf(db, values.range);
      }
    } catch (const modTally::Failure& failure) {
      std::cerr << "lirvo: " << failure.description() << '\n';
      return kExitFailure;
    }
  }
  ReportFile report;
  if (!report.Open(values.report, "VoucherID,row,reason")) {
    return kExitFailure;
  }
  const std::optional<std::string> company = CompanyToUse(values.company, options.server);
  if (!company) {
    return kExitFailure;
  }
  options.company = *company;

  const InterruptGuard guard;
  sync::ProgressPrinter progress(std::cerr, isatty(STDERR_FILENO) != 0);
  options.server.cancelled = [] { return interrupt_requested.load(); };
  options.progress = [&progress](const sync::SyncProgress& p) { progress.Show(p); };
  options.rejected = [&](const sync::SyncRejection& rejection) {
    report.Add(CsvField(rejection.voucher_id) + ',' + std::to_string(rejection.row) + ',' +
                   CsvField(rejection.reason),
               (rejection.differs_in_books ? "Held otherwise: row " : "Rejected: row ") +
                   std::to_string(rejection.row) + " (VoucherID \"" + rejection.voucher_id +
                   "\"): " + rejection.reason);
  };

  std::cout << (options.dry_run ? "Checking " : "Syncing ")
            << (options.rows ? options.rows->name
                : db         ? db->name()
                             : options.database.string())
            << " into \"" << options.company << "\" at " << modTally::ShownUrl(options.server.url)
            << " (journal " << options.journal.string() << ")\n"
            << std::flush;
  long masters_rejected = 0;
  int fed = kExitOk;
  const auto worse = [](int a, int b) { return a == kExitOk ? b : b == kExitOk ? a : a; };
  // Documents fed without their masters' kinds bring the masters they name along.
  std::vector<books::MasterRef> also;
  if (db && !kinds.documents.empty() && kinds.masters.size() < books::kMasterKinds.size()) {
    try {
      also = feed::DocumentsNeed(*db, kinds.documents, values.range);
    } catch (const modTally::Failure& failure) {
      std::cerr << "lirvo: " << failure.description() << '\n';
      return kExitFailure;
    }
  }
  if (db && (!kinds.masters.empty() || !also.empty())) {
    fed = FeedSourceMasters(*db, options, kinds.masters, also, report, masters_rejected);
  }
  if (db && !kinds.documents.empty() && (fed == kExitOk || fed == kExitRejected)) {
    fed = worse(fed, FeedSourceDocuments(*db, options, kinds.documents, values.range, report,
                                         masters_rejected));
  }
  if (fed != kExitOk && fed != kExitRejected) {
    report.Finish(std::cout, "Rejected: ", masters_rejected);
    return fed;
  }
  if (db && !options.rows) {
    return report.Finish(std::cout, "Rejected: ", masters_rejected) ? fed : kExitFailure;
  }
  sync::SyncSummary summary;
  try {
    summary = sync::Sync(options);
  } catch (const modTally::Failure& failure) {
    progress.Finish();
    std::cerr << "lirvo: " << failure.description() << '\n';
    return kExitFailure;
  }
  progress.Finish();
  if (summary.stopped && summary.requests == 0) {
    // Nothing was sent: the reason alone says it, without a summary of zeros.
    std::cerr << "lirvo: the sync stopped: " << *summary.stopped << '\n';
    return ExitStatusOf(summary.outcome());
  }
  sync::PrintSummary(std::cout, summary);
  if (!report.Finish(std::cout, "Rejected: ",
                     masters_rejected + summary.rejected_locally + summary.rejected_by_server +
                         summary.differ_in_books)) {
    return kExitFailure;
  }
  if (summary.stopped) {
    std::cerr << "lirvo: the sync stopped: " << *summary.stopped << '\n';
  }
  const int status = ExitStatusOf(summary.outcome());
  return status == kExitOk ? fed : status;
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
