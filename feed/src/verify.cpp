// Checking what landed from a source. The feeds' dry runs read the source and the books exactly
// as a sync does: what a dry run would create or send is what the books lack, what it would leave
// alone as held otherwise (a master or document whose fields differ) differs, and what it rejects
// for the source's own faults is not expected.
#include <algorithm>
#include <functional>
#include <map>
#include <ostream>

#include <lirvo/feed.h>
#include <lirvo/source_layout.h>
#include <lirvo/text.h>

#include "held.h"
#include "sales_mst.h"

namespace lirvo::feed {

namespace {

using verify::Finding;
using verify::Outcome;

class Verification {
 public:
  explicit Verification(const SourceVerifyOptions& options) : options_(options) {}

  SourceVerifySummary Go(source::Source& source);

 private:
  void Masters(source::Source& source, std::deque<ImpliedMaster> implied);
  // `before` (if any): called once the documents are read, before the first is compared.
  void Documents(source::Source& source, const std::function<void()>& before);
  void Tell(Finding finding) const {
    if (options_.finding) {
      options_.finding(finding);
    }
  }

  // Tells the documents held apart (below), each pair of one VoucherID as one document whose date
  // differs.
  void TellApart();

  const SourceVerifyOptions& options_;
  SourceVerifySummary summary_;
  // A document the books lack where its date puts it, and one they hold where the source has
  // none, are held until the documents end: of one type and VoucherID, they are one document
  // whose date was changed in the books to a day read back with other documents.
  using Apart = std::pair<books::DocumentType, std::string>;
  std::map<Apart, DocumentOutcome> missing_, only_in_books_;
};

void Verification::Masters(source::Source& source, std::deque<ImpliedMaster> implied) {
  MastersOptions masters;
  masters.implied = std::move(implied);
  masters.server = options_.server;
  masters.company = options_.company;
  masters.kinds = options_.kinds;
  masters.dry_run = true;
  masters.each = [this](const MasterOutcome& master) {
    VerifyCounts& counts = summary_.masters[IndexOf(master.kind)];
    switch (master.what) {
      case MasterOutcome::What::kInBooks:
        ++counts.match;
        break;
      case MasterOutcome::What::kCreated:  // a dry run's "to create": the books lack it
        ++counts.missing;
        Tell({master.name, master.row, Outcome::kMasterMissing, "", "", "", master.table});
        break;
      case MasterOutcome::What::kRejected:
        ++counts.not_expected;
        Tell({master.name, master.row, Outcome::kNotExpected, "", master.reason, "", master.table});
        break;
      case MasterOutcome::What::kHeldOtherwise:
        ++counts.different;
        for (const books::FieldDifference& d : master.differences) {
          Tell({master.name, master.row, Outcome::kDifferent, d.field, d.source, d.books,
                master.table});
        }
        break;
    }
  };
  const MastersSummary fed = FeedMasters(source, masters);
  for (std::size_t i = 0; i < fed.kinds.size(); ++i) {
    summary_.masters[i].in_source = fed.kinds[i].in_source;
  }
}

void Verification::Documents(source::Source& source, const std::function<void()>& before) {
  DocumentsOptions documents;
  documents.server = options_.server;
  documents.company = options_.company;
  documents.types = options_.types;
  documents.range = options_.range;
  documents.dry_run = true;
  documents.tell_books_only = true;
  documents.each = [this](const DocumentOutcome& document) {
    using What = DocumentOutcome::What;
    if (!document.type) {
      ++(document.orphan_line ? summary_.orphan_lines : summary_.unknown_types);
      Tell({document.voucher_id, document.row, Outcome::kNotExpected, "", document.reason, ""});
      return;
    }
    VerifyCounts& counts = summary_.documents[static_cast<std::size_t>(*document.type)];
    switch (document.what) {
      case What::kInBooks:
        ++counts.match;
        break;
      case What::kSent:  // a dry run's "to send": the books lack it where its date puts it
        missing_.emplace(Apart{*document.type, std::string(text::Trim(document.voucher_id))},
                         document);
        break;
      case What::kOnlyInBooks:
        only_in_books_.emplace(Apart{*document.type, document.voucher_id}, document);
        break;
      case What::kHeldOtherwise:
        ++counts.different;
        for (const books::FieldDifference& d : document.differences) {
          Tell(
              {document.voucher_id, document.row, Outcome::kDifferent, d.field, d.source, d.books});
        }
        break;
      case What::kRejected:
        // Sound in itself but naming a master the books lack, it cannot be in the books.
        ++(document.lacks_master ? counts.missing : counts.not_expected);
        Tell({document.voucher_id, document.row,
              document.lacks_master ? Outcome::kMissing : Outcome::kNotExpected, "",
              document.reason, ""});
        break;
    }
  };
  documents.loaded = [&before](const DocumentsSummary&, std::vector<books::MasterRef>&) {
    if (before) {
      before();
    }
    return true;
  };
  const DocumentsSummary fed = FeedDocuments(source, documents);
  for (std::size_t i = 0; i < fed.types.size(); ++i) {
    summary_.documents[i].in_source = fed.types[i].in_source;
  }
  TellApart();
}

void Verification::TellApart() {
  for (const auto& [key, document] : missing_) {
    VerifyCounts& counts = summary_.documents[static_cast<std::size_t>(key.first)];
    const auto moved = only_in_books_.find(key);
    if (moved == only_in_books_.end()) {
      ++counts.missing;
      Tell({document.voucher_id, document.row, Outcome::kMissing, "", "", ""});
      continue;
    }
    ++counts.different;
    Tell({document.voucher_id, document.row, Outcome::kDifferent, "date", document.date,
          moved->second.date});
    only_in_books_.erase(moved);
  }
  for (const auto& [key, document] : only_in_books_) {
    ++summary_.documents[static_cast<std::size_t>(key.first)].not_in_source;
    Tell({document.voucher_id, 0, Outcome::kNotInSource, "", "", document.reason});
  }
}

SourceVerifySummary Verification::Go(source::Source& source) {
  // SalesMst's rows are among the sales, and the masters they imply among the masters.
  std::unique_ptr<source::Source> with_sales;
  std::deque<ImpliedMaster> implied;
  const std::optional<std::string> sales = source.FindTable(source::kSalesTable);
  if (sales && std::find(options_.types.begin(), options_.types.end(),
                         books::DocumentType::kSales) != options_.types.end()) {
    with_sales = WithSalesMst(source, *sales, 0, options_.range, implied);
  }
  // SalesMst is read once, with the documents: the masters its rows imply are known then.
  const std::function<void()> masters = [&] {
    if (!options_.kinds.empty() || !implied.empty()) {
      Masters(source, std::move(implied));
    }
  };
  if (!with_sales) {
    masters();
  }
  if (!options_.types.empty()) {
    Documents(with_sales ? *with_sales : source, with_sales ? masters : nullptr);
  }
  return summary_;
}

// "3 match", then the counts that are not.
void PrintCounts(std::ostream& out, const VerifyCounts& c) {
  out << c.in_source << " in the source, " << c.match << " match, " << c.missing
      << " missing from the books, " << c.different << " different, " << c.not_expected
      << " not expected: failed local checks";
  if (c.not_in_source > 0) {
    out << "; " << c.not_in_source << " in the books but not in the source";
  }
  out << '\n';
}

}  // namespace

RunOutcome SourceVerifySummary::outcome() const {
  long amiss = 0;
  for (const VerifyCounts& c : masters) {
    amiss += c.missing + c.different;
  }
  for (const VerifyCounts& c : documents) {
    amiss += c.missing + c.different + c.not_in_source;
  }
  return amiss > 0 ? RunOutcome::kIncomplete : RunOutcome::kComplete;
}

SourceVerifySummary VerifySource(source::Source& source, const SourceVerifyOptions& options) {
  return Verification(options).Go(source);
}

void PrintSourceVerifySummary(std::ostream& out, const SourceVerifySummary& summary) {
  bool any = false;
  for (const books::MasterKind kind : books::kMasterKinds) {
    const VerifyCounts& c = summary.masters[IndexOf(kind)];
    if (c.in_source > 0) {
      out << "Masters, " << books::KindName(kind) << ": ";
      PrintCounts(out, c);
      any = true;
    }
  }
  for (const books::DocumentType type : books::kDocumentTypes) {
    const VerifyCounts& c = summary.documents[static_cast<std::size_t>(type)];
    if (c.in_source > 0) {
      out << "Documents, " << books::KindName(type) << ": ";
      PrintCounts(out, c);
      any = true;
    }
  }
  if (summary.unknown_types > 0) {
    out << "Documents whose VoucherType names no document type: " << summary.unknown_types
        << " not expected\n";
  }
  if (summary.orphan_lines > 0) {
    out << "Lines of VoucherLines whose VoucherID no voucher has: " << summary.orphan_lines
        << " not expected\n";
  }
  if (any && summary.outcome() == RunOutcome::kComplete) {
    out << "Everything the source expects is in the books.\n";
  } else if (!any && summary.unknown_types == 0 && summary.orphan_lines == 0) {
    out << "Nothing to compare: the source holds nothing of the kinds asked.\n";
  }
}

}  // namespace lirvo::feed
