// verify: compare the books with SalesMst row by row, matched by VoucherID = REMOTEID; see the
// README's "Checking what landed".
#include <unistd.h>

#include <iostream>
#include <memory>

#include <CLI/CLI.hpp>

#include <lirvo/verify.h>

#include "commands.h"
#include "source_login.h"
#include "table_run.h"

namespace lirvo::cli {

int RunVerify(const VerifyValues& values) {
  transfer::VerifyOptions options;
  options.database = values.db;
  options.from = values.from;
  options.to = values.to;

  if (!values.source.empty()) {
    try {
      options.rows = OpenSalesSource(values.source, values.user);
    } catch (const modTally::Failure& failure) {
      std::cerr << "lirvo: " << failure.description() << '\n';
      return kExitFailure;
    }
  }
  ReportFile report;
  if (!report.Open(values.report, "VoucherID,row,status,field,source,books")) {
    return kExitFailure;
  }
  try {
    options.server = modTally::Server::FromEnvironment();
  } catch (const modTally::Failure& failure) {
    std::cerr << "lirvo: " << failure.description() << '\n';
    return kExitFailure;
  }
  const std::optional<std::string> company = CompanyToUse(values.company, options.server);
  if (!company) {
    return kExitFailure;
  }
  options.company = *company;

  transfer::ProgressPrinter progress(std::cerr, isatty(STDERR_FILENO) != 0);
  options.progress = [&progress](const transfer::SyncProgress& p) { progress.Show(p); };
  long findings = 0;
  options.finding = [&](const transfer::Finding& finding) {
    ++findings;
    const std::string row = finding.row > 0 ? std::to_string(finding.row) : std::string();
    const std::string outcome(transfer::OutcomeName(finding.outcome));
    report.Add(CsvField(finding.voucher_id) + ',' + row + ',' + outcome + ',' +
                   CsvField(finding.field) + ',' + CsvField(finding.source) + ',' +
                   CsvField(finding.books),
               outcome + ": " + (row.empty() ? std::string() : "row " + row + " ") +
                   "(VoucherID \"" + finding.voucher_id + "\")" +
                   (finding.field.empty() ? std::string() : " " + finding.field) + ": source \"" +
                   finding.source + "\", books \"" + finding.books + "\"");
  };

  std::cout << "Verifying " << (options.rows ? options.rows->name : options.database.string())
            << " against \"" << options.company << "\" at "
            << modTally::ShownUrl(options.server.url) << '\n'
            << std::flush;
  transfer::VerifySummary summary;
  try {
    summary = transfer::Verify(options);
  } catch (const modTally::Failure& failure) {
    progress.Finish();
    std::cerr << "lirvo: " << failure.description() << '\n';
    return kExitUsage;
  }
  progress.Finish();
  transfer::PrintVerifySummary(std::cout, summary);
  if (!report.Finish(std::cout, "", findings)) {
    return kExitFailure;
  }
  if (summary.stopped) {
    std::cerr << "lirvo: the verification could not finish: " << *summary.stopped << '\n';
  }
  return ExitStatusOf(summary.outcome());
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
      "the source does not hold are named too.\nExit status: 0 everything matches, 1 could not "
      "finish (reason on stderr), 2 usage error, 3 something does not match.");
  AddRowsOptions(*verify, values->db, values->source, values->user);
  verify->add_option("--company", values->company,
                     "the company (default: the server's current one)");
  auto dates = std::make_shared<DateRangeValues>();
  AddDateRangeOptions(*verify, *dates);
  verify->add_option("--report", values->report,
                     "write every row that does not match to this CSV file "
                     "(VoucherID,row,status,field,source,books)");
  verify->callback([values, dates, &status] {
    RequireRows(values->db, values->source);
    // Without dates, verify takes the source's first and last.
    if (const std::optional<source::DateRange> range = RangeOf(*dates)) {
      values->from = dates->from.empty() && dates->year.empty() ? "" : Yyyymmdd(range->from);
      values->to = dates->to.empty() && dates->year.empty() ? "" : Yyyymmdd(range->to);
    }
    status = RunVerify(*values);
  });
}

}  // namespace lirvo::cli
