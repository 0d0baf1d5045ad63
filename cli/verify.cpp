// verify: compare the books with SalesMst row by row, matched by VoucherID = REMOTEID, and with a
// source's masters and documents of every kind; see the README's "Checking what landed".
#include <functional>
#include <iostream>
#include <memory>

#include <CLI/CLI.hpp>

#include <lirvo/feed.h>
#include <lirvo/source_layout.h>
#include <lirvo/sync.h>
#include <lirvo/verify.h>

#include "commands.h"
#include "source_login.h"
#include "table_run.h"

namespace lirvo::cli {

namespace {

// The source's master tables and Vouchers of `kinds` against the books (lirvo::feed), one
// summary line per kind. Returns the exit status of what it found.
int VerifySourceKinds(source::Source& db, const modTally::Server& server,
                      const std::string& company, const KindsToMove& kinds,
                      const std::optional<source::DateRange>& range,
                      const std::function<void(const verify::Finding&)>& finding) {
  feed::SourceVerifyOptions options;
  options.server = server;
  options.company = company;
  options.kinds = kinds.masters;
  options.types = kinds.documents;
  options.range = range;
  options.finding = finding;
  feed::SourceVerifySummary summary;
  try {
    summary = feed::VerifySource(db, options);
  } catch (const modTally::Failure& failure) {
    std::cerr << "lirvo: the verification could not finish: " << failure.description() << '\n';
    return kExitFailure;
  }
  feed::PrintSourceVerifySummary(std::cout, summary);
  return ExitStatusOf(summary.outcome());
}

// Whether `db` holds a master table, Vouchers or SalesMst for `kinds`.
bool HoldsAny(source::Source& db, const KindsToMove& kinds) {
  for (const books::MasterKind kind : kinds.masters) {
    if (db.FindTable(books::TableName(kind))) {
      return true;
    }
  }
  return (!kinds.documents.empty() && db.FindTable(source::kVouchersTable)) ||
         (kinds.sales_table && db.FindTable(source::kSalesTable));
}

}  // namespace

// Long: the options turned into the run's and its report written, in the order they are used.
int RunVerify(const VerifyValues& values) {
  // A source's masters and documents, its SalesMst's sales among them; an Access file's SalesMst.
  std::shared_ptr<source::Source> db;
  const KindsToMove kinds = KindsOf(values.kinds).value_or(KindsToMove{});
  try {
    db = values.source.empty()
             ? AccessSalesMst(values.db)
             : source::Open(source::ParseUri(values.source), SourceLogin(values.user));
    if (!HoldsAny(*db, kinds)) {
      // Nothing to compare is no proof that the books are right.
      // (AccessSalesMst has made sure an Access file given with --db holds SalesMst.)
      std::cerr << "lirvo: " << db->name()
                << " holds no table of the kinds to verify (Godowns, Units, StockGroups, "
                   "StockItems, LedgerGroups, Ledgers, Vouchers, SalesMst): nothing to compare\n";
      return kExitFailure;
    }
  } catch (const modTally::Failure& failure) {
    std::cerr << "lirvo: " << failure.description() << '\n';
    return kExitFailure;
  }
  ReportFile report;
  if (!report.Open(values.report, "VoucherID,row,status,field,source,books")) {
    return kExitFailure;
  }
  modTally::Server server;
  try {
    server = modTally::Server::FromEnvironment();
  } catch (const modTally::Failure& failure) {
    std::cerr << "lirvo: " << failure.description() << '\n';
    return kExitFailure;
  }
  const std::optional<std::string> company = CompanyToUse(values.company, server);
  if (!company) {
    return kExitFailure;
  }

  long findings = 0;
  const auto tell = [&](const verify::Finding& finding) {
    ++findings;
    const std::string row = finding.row > 0 ? std::to_string(finding.row) : std::string();
    const std::string outcome(verify::OutcomeName(finding.outcome));
    // A master as the sync names it: its table and row, then its name.
    const bool master = !finding.table.empty();
    const std::string where = master ? finding.table + (row.empty() ? "" : " row " + row) + " (\"" +
                                           finding.voucher_id + "\")"
                                     : (row.empty() ? std::string() : "row " + row + " ") +
                                           "(VoucherID \"" + finding.voucher_id + "\")";
    report.Add(CsvField(master ? finding.table + ": " + finding.voucher_id : finding.voucher_id) +
                   ',' + row + ',' + outcome + ',' + CsvField(finding.field) + ',' +
                   CsvField(finding.source) + ',' + CsvField(finding.books),
               outcome + ": " + where +
                   (finding.field.empty() ? std::string() : " " + finding.field) + ": source \"" +
                   finding.source + "\", books \"" + finding.books + "\"");
  };

  std::cout << "Verifying " << (values.source.empty() ? values.db : db->name()) << " against \""
            << *company << "\" at " << modTally::ShownUrl(server.url) << '\n'
            << std::flush;
  const int status =
      VerifySourceKinds(*db, server, *company, kinds, RangeOf({values.from, values.to, ""}), tell);
  return report.Finish(std::cout, "", findings) ? status : kExitFailure;
}

int VerifyAfterSync(int sync_status, const VerifyValues& values) {
  if (sync_status != kExitOk && sync_status != kExitRejected) {
    return sync_status;
  }
  const int verified = RunVerify(values);
  if (verified != kExitOk && verified != kExitRejected) {
    return verified;
  }
  return sync_status == kExitRejected || verified == kExitRejected ? kExitRejected : kExitOk;
}

void AddVerifyCommand(CLI::App& app, int& status) {
  auto values = std::make_shared<VerifyValues>();
  CLI::App* verify = app.add_subcommand(
      "verify",
      "Compare the company's books with every row of SalesMst, matched by VoucherID = REMOTEID: "
      "each row matches, is missing, or differs (field, source and books value); sales vouchers "
      "the source does not hold are named too. With --source, also its master tables (each "
      "master the books lack is named, and every field in which they hold one otherwise: its "
      "parent, a stock item's units, any other the row sets) and its Vouchers of every type (each "
      "document missing, or every field that differs); --kinds picks them.\nExit status: 0 "
      "everything matches, 1 could not finish (reason on stderr), 2 usage error, 3 something "
      "does not match.");
  AddRowsOptions(*verify, values->db, values->source, values->user);
  AddKindsOption(*verify, values->kinds, "verify");
  verify->add_option("--company", values->company,
                     "the company (default: the server's current one)");
  auto dates = std::make_shared<DateRangeValues>();
  AddDateRangeOptions(*verify, *dates);
  verify->add_option("--report", values->report,
                     "write every row that does not match to this CSV file "
                     "(VoucherID,row,status,field,source,books)");
  verify->callback([values, dates, &status] {
    RequireRows(values->db, values->source);
    if (!values->kinds.empty() && values->source.empty()) {
      throw CLI::ValidationError("--kinds", "takes effect with --source only");
    }
    // Without dates, verify takes the source's first and last.
    if (const std::optional<source::DateRange> range = RangeOf(*dates)) {
      values->from = dates->from.empty() && dates->year.empty() ? "" : Yyyymmdd(range->from);
      values->to = dates->to.empty() && dates->year.empty() ? "" : Yyyymmdd(range->to);
    }
    status = RunVerify(*values);
  });
}

}  // namespace lirvo::cli
