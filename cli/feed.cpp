// What `lirvo sync --source` does before the sales: the source's masters fed into the books.
#include <iostream>

#include <lirvo/feed.h>
#include <lirvo/text.h>

#include "source_login.h"
#include "table_run.h"

namespace lirvo::cli {

std::optional<std::vector<books::MasterKind>> MasterKindsOf(const std::vector<std::string>& names,
                                                            bool& sales) {
  if (names.empty()) {
    sales = true;
    return std::vector<books::MasterKind>(books::kMasterKinds.begin(), books::kMasterKinds.end());
  }
  std::vector<books::MasterKind> kinds;
  sales = false;
  for (const std::string& name : names) {
    if (text::EqualsNoCase(text::Trim(name), "sales")) {
      sales = true;
    } else if (const std::optional<books::MasterKind> kind = books::KindOfKindName(name)) {
      kinds.push_back(*kind);
    } else {
      return std::nullopt;
    }
  }
  return kinds;
}

int FeedSourceMasters(source::Source& db, const modTally::Server& server,
                      const std::string& company, const std::vector<books::MasterKind>& kinds,
                      bool dry_run, ReportFile& report, long& rejected) {
  feed::MastersOptions options;
  options.server = server;
  options.company = company;
  options.kinds = kinds;
  options.dry_run = dry_run;
  options.each = [&](const feed::MasterOutcome& master) {
    if (master.what != feed::MasterOutcome::What::kRejected) {
      return;
    }
    ++rejected;
    const std::string where = master.table + " row " + std::to_string(master.row);
    report.Add(CsvField(master.table + ": " + master.name) + ',' + std::to_string(master.row) +
                   ',' + CsvField(master.reason),
               "Rejected: " + where + " (\"" + master.name + "\"): " + master.reason);
  };
  feed::MastersSummary summary;
  try {
    summary = feed::FeedMasters(db, options);
  } catch (const modTally::Failure& failure) {
    std::cerr << "lirvo: " << failure.description() << '\n';
    return kExitFailure;
  }
  feed::PrintMastersSummary(std::cout, summary, dry_run);
  if (summary.stopped) {
    std::cerr << "lirvo: the sync stopped: " << *summary.stopped << '\n';
  }
  return ExitStatusOf(summary.outcome());
}

}  // namespace lirvo::cli
