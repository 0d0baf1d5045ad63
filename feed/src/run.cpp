#include <algorithm>
#include <array>
#include <functional>

#include <lirvo/feed.h>
#include <lirvo/feed_run.h>
#include <lirvo/text.h>

#include "sales_mst.h"

namespace lirvo::feed {

namespace {

using Clock = std::chrono::steady_clock;

bool IsSales(const source::Kind* kind) {
  return kind->name == books::KindName(books::DocumentType::kSales);
}

// Keeps the table of kinds and tells it on every change.
class Table {
 public:
  Table(const RunOptions& options, const source::Offer& offer) : options_(options), offer_(offer) {
    kinds_.reserve(source::Kinds().size());  // rows stay where they are as kinds are added
    for (const source::Kind& kind : source::Kinds()) {
      if (std::find(options.kinds.begin(), options.kinds.end(), &kind) != options.kinds.end()) {
        Add(kind);
      }
    }
  }

  // The kind's row; a master kind fed only for the documents gets one when first met.
  KindStatus& Get(std::string_view name) { return Row(*source::FindKind(name)); }
  // The row of a document type. Its kind is found by name once (a source's documents are told one
  // by one, tens of thousands); the row is sought each time, as a row added later may move it.
  KindStatus& Of(books::DocumentType type) {
    const source::Kind*& kind = kind_of_type_[static_cast<std::size_t>(type)];
    return Row(kind ? *kind : *(kind = source::FindKind(books::KindName(type))));
  }

  // Marks the start of the kind's part; its time runs from here until Finish.
  void Start(KindStatus& status) {
    const std::size_t at = Index(status);
    if (!started_[at]) {
      started_[at] = Clock::now();
    }
  }

  // Brings the kind's time up to now and tells the table.
  void Changed(KindStatus& status) {
    Start(status);
    status.time = Clock::now() - *started_[Index(status)];
    Tell();
  }

  void Finish(KindStatus& status) {
    status.done = true;
    Changed(status);
  }

  void Reject(const KindStatus* status, KindRejection rejection) {
    if (options_.rejected) {
      rejection.kind = status ? status->kind : nullptr;
      options_.rejected(rejection);
    }
  }

  void Tell() const {
    if (options_.progress) {
      options_.progress(kinds_);
    }
  }

  std::vector<KindStatus>& kinds() { return kinds_; }

 private:
  KindStatus& Row(const source::Kind& kind) {
    for (KindStatus& status : kinds_) {
      if (status.kind == &kind) {
        return status;
      }
    }
    return Add(kind);
  }

  // A row for `kind`, in the order of source::Kinds() (the kinds are one array, so their
  // addresses are in that order), with the rows the offer gives it.
  KindStatus& Add(const source::Kind& kind) {
    KindStatus status;
    status.kind = &kind;
    for (const source::KindRows& rows : offer_.kinds) {
      // A master kind's own table only: the names SalesMst implies count once the masters are
      // fed (only with its sales).
      if (rows.kind == &kind &&
          (kind.document() || text::EqualsNoCase(rows.table, kind.table) || IsSales(&kind))) {
        status.in_source += static_cast<long>(rows.rows);
      }
    }
    const auto after = std::find_if(kinds_.begin(), kinds_.end(), [&kind](const KindStatus& s) {
      return std::less<>()(&kind, s.kind);
    });
    const auto at = static_cast<std::size_t>(after - kinds_.begin());
    started_.insert(started_.begin() + static_cast<std::ptrdiff_t>(at), std::nullopt);
    return *kinds_.insert(after, status);
  }

  std::size_t Index(const KindStatus& status) const {
    return static_cast<std::size_t>(&status - kinds_.data());
  }

  const RunOptions& options_;
  const source::Offer& offer_;
  std::vector<KindStatus> kinds_;
  std::array<const source::Kind*, books::kDocumentTypes.size()>
      kind_of_type_{};  // as Of found them
  std::vector<std::optional<Clock::time_point>> started_;
};

// SalesMst as the source spells it, when the sales are asked and the source has it.
std::optional<std::string> SalesMstFed(source::Source& source, Table& table) {
  const bool sales = std::any_of(table.kinds().begin(), table.kinds().end(),
                                 [](const KindStatus& status) { return IsSales(status.kind); });
  return sales ? source.FindTable(source::kSalesTable) : std::nullopt;
}

// Counts one outcome: `sent` when it was put to the books, `accepted` when they took it.
void Count(KindStatus& status, bool in_books, bool accepted) {
  if (in_books) {
    ++status.in_books;
    return;
  }
  ++status.sent;
  ++(accepted ? status.accepted : status.rejected);
}

// `implied`: the masters SalesMst's rows imply, when its sales are fed. In a dry run, the masters
// it would create are added to `to_create`.
void FeedTheMasters(source::Source& source, std::deque<ImpliedMaster> implied,
                    const RunOptions& options, Table& table, RunSummary& summary,
                    std::vector<books::MasterRef>& to_create) {
  MastersOptions masters;
  masters.server = options.server;
  masters.company = options.company;
  masters.batch = options.batch;
  masters.journal = options.journal;
  masters.dry_run = options.dry_run;
  masters.trust_journal = options.trust_journal;
  masters.kinds.clear();
  std::vector<books::DocumentType> types;
  for (const KindStatus& status : table.kinds()) {
    if (const auto kind = books::KindOfKindName(status.kind->name)) {
      masters.kinds.push_back(*kind);
    } else if (const auto type = books::TypeOfKindName(status.kind->name)) {
      types.push_back(*type);
    }
  }
  // Documents without their masters' kinds bring the masters they name along, as the sync does.
  if (!types.empty() && masters.kinds.size() < books::kMasterKinds.size()) {
    masters.also = DocumentsNeed(source, types, options.range);
  }
  // SalesMst's sales bring the masters their rows imply, whatever kinds are asked.
  masters.implied = std::move(implied);
  if (masters.kinds.empty() && masters.also.empty() && masters.implied.empty()) {
    return;
  }
  for (const books::MasterKind kind : masters.kinds) {
    table.Start(table.Get(books::KindName(kind)));
  }
  masters.each = [&table, &options, &to_create](const MasterOutcome& master) {
    KindStatus& status = table.Get(books::KindName(master.kind));
    using What = MasterOutcome::What;
    if (options.dry_run && master.what == What::kCreated) {
      to_create.push_back({master.kind, master.name});
    }
    Count(status, master.what == What::kInBooks, master.what == What::kCreated);
    if (master.what == What::kRejected || master.what == What::kHeldOtherwise) {
      table.Reject(&status, {nullptr, master.name, master.reason, master.table, master.row,
                             master.what == What::kHeldOtherwise});
    }
    table.Changed(status);
  };
  const MastersSummary& fed = summary.masters.emplace(FeedMasters(source, std::move(masters)));
  for (KindStatus& status : table.kinds()) {
    if (const auto kind = books::KindOfKindName(status.kind->name)) {
      status.in_source = fed.kinds[static_cast<std::size_t>(*kind)].in_source;
      table.Finish(status);
    }
  }
  summary.stopped = fed.stopped;
  summary.interrupted = fed.interrupted;
  if (options.masters_fed) {
    options.masters_fed(fed);
  }
}

// `sales`: SalesMst as the source spells it, when its sales are fed; read once, with the
// documents, and the masters its rows imply fed before the first document is checked.
void FeedTheDocuments(source::Source& source, const std::optional<std::string>& sales,
                      const RunOptions& options, Table& table, RunSummary& summary,
                      std::vector<books::MasterRef> to_create, const std::function<bool()>& go_on) {
  DocumentsOptions documents;
  documents.to_create = std::move(to_create);
  documents.server = options.server;
  documents.company = options.company;
  documents.batch = options.batch;
  documents.range = options.range;
  documents.journal = options.journal;
  documents.dry_run = options.dry_run;
  documents.trust_journal = options.trust_journal;
  documents.overwrite = options.overwrite;
  documents.types.clear();
  for (const KindStatus& status : table.kinds()) {
    if (const auto type = books::TypeOfKindName(status.kind->name)) {
      documents.types.push_back(*type);
    }
  }
  // SalesMst's rows go after the Vouchers' own, as sales.
  std::deque<ImpliedMaster> implied;
  std::unique_ptr<source::Source> with_sales;
  if (sales) {
    with_sales = WithSalesMst(source, *sales, options.row_limit, options.range, implied);
  }
  source::Source& documents_source = with_sales ? *with_sales : source;
  if (documents.types.empty() || !documents_source.FindTable(source::kVouchersTable)) {
    return;
  }
  for (const books::DocumentType type : documents.types) {
    table.Start(table.Of(type));
  }
  documents.each = [&table](const DocumentOutcome& document) {
    KindStatus* status = document.type ? &table.Of(*document.type) : nullptr;
    using What = DocumentOutcome::What;
    if (status != nullptr) {
      Count(*status, document.what == What::kInBooks, document.what == What::kSent);
    }
    if (document.what == What::kRejected || document.what == What::kHeldOtherwise) {
      table.Reject(status, {nullptr, document.voucher_id, document.reason,
                            std::string(document.orphan_line ? source::kVoucherLinesTable
                                        : document.sales_mst ? source::kSalesTable
                                                             : source::kVouchersTable),
                            document.row, document.what == What::kHeldOtherwise});
    }
    if (status != nullptr) {
      table.Changed(*status);
    }
  };
  documents.loaded = [&](const DocumentsSummary& loaded, std::vector<books::MasterRef>& more) {
    for (const books::DocumentType type : documents.types) {
      KindStatus& status = table.Of(type);
      status.in_source = loaded.types[static_cast<std::size_t>(type)].in_source;
      table.Start(status);
    }
    table.Tell();  // every type's count at once
    if (!sales) {
      return true;
    }
    FeedTheMasters(source, std::move(implied), options, table, summary, more);
    return go_on();
  };
  const DocumentsSummary& fed =
      summary.documents.emplace(FeedDocuments(documents_source, documents));
  for (const books::DocumentType type : documents.types) {
    KindStatus& status = table.Of(type);
    status.in_source = fed.types[static_cast<std::size_t>(type)].in_source;
    table.Finish(status);
  }
  if (fed.stopped) {
    summary.stopped = fed.stopped;
  }
  summary.interrupted = summary.interrupted || fed.interrupted;
  if (options.documents_fed) {
    options.documents_fed(fed);
  }
}

}  // namespace

RunOutcome RunSummary::outcome() const {
  if (interrupted) {
    return RunOutcome::kInterrupted;
  }
  if (stopped) {
    return RunOutcome::kStopped;
  }
  const auto incomplete = [](const auto& part) {
    return part && part->outcome() == RunOutcome::kIncomplete;
  };
  if (incomplete(masters) || incomplete(documents) ||
      std::any_of(kinds.begin(), kinds.end(),
                  [](const KindStatus& status) { return status.rejected > 0; })) {
    return RunOutcome::kIncomplete;
  }
  return RunOutcome::kComplete;
}

std::string KindRejection::Told() const {
  const std::string where =
      kind != nullptr && !kind->document() ? table + " row " + std::to_string(row) + ": " : "";
  return (held_otherwise ? "held otherwise in the books: " : "") + where + reason;
}

RunSummary Run(const std::shared_ptr<source::Source>& source, const RunOptions& options) {
  if (options.company.empty()) {
    throw modTally::Failure(modTally::FailureNumber::kSetting,
                            "no company to move " + source->name() + " into");
  }
  RunSummary summary;
  std::optional<source::Offer> offer;
  std::optional<Table> table;
  try {
    offer.emplace(options.offer      ? *options.offer
                  : options.progress ? source::Survey(*source)
                                     : source::Offer{});
    table.emplace(options, *offer);
    table->Tell();
    const auto go_on = [&] {
      if (!summary.interrupted && options.server.Cancelled()) {
        summary.interrupted = true;
      }
      return !summary.stopped && !summary.interrupted;
    };
    const std::optional<std::string> sales = SalesMstFed(*source, *table);
    std::vector<books::MasterRef> to_create;  // in a dry run
    // With SalesMst, the masters go once the documents are read (FeedTheDocuments).
    if (!sales && go_on()) {
      FeedTheMasters(*source, {}, options, *table, summary, to_create);
    }
    if (go_on()) {
      FeedTheDocuments(*source, sales, options, *table, summary, std::move(to_create), go_on);
    }
  } catch (const modTally::Failure& failure) {
    summary.stopped = failure.description();
    summary.failed = true;
  }
  if (table) {
    summary.kinds = table->kinds();
  }
  return summary;
}

}  // namespace lirvo::feed
