// What `lirvo sync --source` does before the sales: the source's masters fed into the books.
#include <iostream>

#include <CLI/CLI.hpp>

#include <lirvo/feed.h>
#include <lirvo/text.h>

#include "source_login.h"
#include "table_run.h"

namespace lirvo::cli {

std::optional<KindsToMove> KindsOf(const std::vector<std::string>& names) {
  KindsToMove kinds;
  if (names.empty()) {
    kinds.masters.assign(books::kMasterKinds.begin(), books::kMasterKinds.end());
    kinds.documents.assign(books::kDocumentTypes.begin(), books::kDocumentTypes.end());
    return kinds;
  }
  kinds.sales_table = false;
  for (const std::string& name : names) {
    if (const std::optional<books::MasterKind> kind = books::KindOfKindName(name)) {
      kinds.masters.push_back(*kind);
    } else if (const std::optional<books::DocumentType> type = books::TypeOfKindName(name)) {
      kinds.documents.push_back(*type);
      kinds.sales_table = kinds.sales_table || *type == books::DocumentType::kSales;
    } else {
      return std::nullopt;
    }
  }
  return kinds;
}

void AddKindsOption(CLI::App& command, std::vector<std::string>& kinds, const std::string& verb) {
  command
      .add_option("--kinds", kinds,
                  "with --source, what to " + verb +
                      ", comma-separated: units, godowns, ledger-groups, ledgers, stock-groups, "
                      "stock-items (the source's master tables), sales-orders, delivery-notes, "
                      "sales (with SalesMst), receipts, purchase-orders, receipt-notes, "
                      "purchases, payments (its Vouchers); default all it holds")
      ->delimiter(',')
      ->check(CLI::Validator(
          [verb](const std::string& name) -> std::string {
            return KindsOf({name}) ? "" : "\"" + name + "\" is no kind to " + verb;
          },
          "KIND"));
}

int FeedSourceDocuments(source::Source& db, const sync::SyncOptions& sync,
                        const std::vector<books::DocumentType>& types,
                        const std::optional<source::DateRange>& range, ReportFile& report,
                        long& rejected) {
  feed::DocumentsOptions options;
  options.batch = sync.batch;
  options.server = sync.server;
  options.company = sync.company;
  options.types = types;
  options.range = range;
  options.dry_run = sync.dry_run;
  options.overwrite = sync.overwrite;
  options.journal = sync.journal;
  options.trust_journal = sync.trust_journal;
  options.each = [&](const feed::DocumentOutcome& document) {
    using What = feed::DocumentOutcome::What;
    if (document.what != What::kRejected && document.what != What::kHeldOtherwise) {
      return;
    }
    ++rejected;
    report.Add(CsvField(document.voucher_id) + ',' + std::to_string(document.row) + ',' +
                   CsvField(document.reason),
               std::string(document.what == What::kRejected ? "Rejected: " : "Held otherwise: ") +
                   (document.orphan_line ? "VoucherLines row " : "Vouchers row ") +
                   std::to_string(document.row) + " (VoucherID \"" + document.voucher_id +
                   "\"): " + document.reason);
  };
  feed::DocumentsSummary summary;
  try {
    summary = feed::FeedDocuments(db, options);
  } catch (const modTally::Failure& failure) {
    std::cerr << "lirvo: " << failure.description() << '\n';
    return kExitFailure;
  }
  feed::PrintDocumentsSummary(std::cout, summary, sync.dry_run);
  if (summary.stopped) {
    std::cerr << "lirvo: the sync stopped: " << *summary.stopped << '\n';
  }
  return ExitStatusOf(summary.outcome());
}

int FeedSourceMasters(source::Source& db, const sync::SyncOptions& sync,
                      const std::vector<books::MasterKind>& kinds,
                      const std::vector<books::MasterRef>& also, ReportFile& report,
                      long& rejected) {
  feed::MastersOptions options;
  options.server = sync.server;
  options.company = sync.company;
  options.kinds = kinds;
  options.also = also;
  options.dry_run = sync.dry_run;
  options.batch = sync.batch;
  options.journal = sync.journal;
  options.trust_journal = sync.trust_journal;
  options.each = [&](const feed::MasterOutcome& master) {
    using What = feed::MasterOutcome::What;
    if (master.what != What::kRejected && master.what != What::kHeldOtherwise) {
      return;
    }
    ++rejected;
    const std::string where = master.table + " row " + std::to_string(master.row);
    report.Add(CsvField(master.table + ": " + master.name) + ',' + std::to_string(master.row) +
                   ',' + CsvField(master.reason),
               std::string(master.what == What::kRejected ? "Rejected: " : "Held otherwise: ") +
                   where + " (\"" + master.name + "\"): " + master.reason);
  };
  feed::MastersSummary summary;
  try {
    summary = feed::FeedMasters(db, options);
  } catch (const modTally::Failure& failure) {
    std::cerr << "lirvo: " << failure.description() << '\n';
    return kExitFailure;
  }
  feed::PrintMastersSummary(std::cout, summary, sync.dry_run);
  if (summary.stopped) {
    std::cerr << "lirvo: the sync stopped: " << *summary.stopped << '\n';
  }
  return ExitStatusOf(summary.outcome());
}

}  // namespace lirvo::cli
