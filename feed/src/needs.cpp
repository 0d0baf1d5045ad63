// The masters a source's documents name, read from Vouchers and VoucherLines without building the
// documents: what the masters feed is to create when documents go without their masters' kinds.
#include <algorithm>
#include <optional>

#include <lirvo/feed.h>
#include <lirvo/source_layout.h>
#include <lirvo/sqlite.h>

#include "held.h"

namespace lirvo::feed {

// Long: one pass over the documents' lines noting each master they name, clearer whole.
std::vector<books::MasterRef> DocumentsNeed(source::Source& source,
                                            const std::vector<books::DocumentType>& types,
                                            const std::optional<source::DateRange>& range) {
  std::vector<books::MasterRef> needs;
  const std::optional<std::string> vouchers = source.FindTable(source::kVouchersTable);
  const std::optional<std::string> lines = source.FindTable(source::kVoucherLinesTable);
  if (!vouchers || !lines) {
    return needs;
  }
  Names seen;
  const auto add = [&](books::MasterKind kind, const source::Rows& rows,
                       const std::optional<std::size_t>& at) {
    const source::Value& value = at ? rows.Values()[*at] : source::Value();
    if (value && !value->empty() && seen[IndexOf(kind)].insert(Key(*value)).second) {
      needs.push_back({kind, *value});
    }
  };

  // The vouchers fed, by VoucherID, in a private temporary file (memory stays flat whatever the
  // source's size); their parties.
  sqlite::OpenOptions spool_options;
  spool_options.name = "the temporary file of the documents' VoucherIDs";
  spool_options.raise = [](const std::string& message) {
    throw modTally::Failure(modTally::FailureNumber::kFile, message);
  };
  sqlite::Database fed("", spool_options);
  fed.Execute(
      "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; PRAGMA temp_store=FILE;"
      "CREATE TABLE ids(id TEXT PRIMARY KEY) WITHOUT ROWID");
  std::optional<sqlite::Transaction> noting(std::in_place, fed);
  sqlite::Statement note = fed.Prepare("INSERT OR IGNORE INTO ids VALUES(?1)");
  const std::unique_ptr<source::Rows> read = source.Read(*vouchers);
  const auto id = read->Find("VoucherID"), type = read->Find("VoucherType"),
             date = read->Find("Date"), party = read->Find("Party");
  const auto text = [](const source::Rows& rows, const std::optional<std::size_t>& at) {
    return at && rows.Values()[*at] ? *rows.Values()[*at] : std::string();
  };
  while (read->Next()) {
    const source::Kind* kind = source::KindOfVoucherType(text(*read, type));
    const std::optional<books::DocumentType> of =
        kind && kind->document() ? books::TypeOfServerName(kind->voucher_type) : std::nullopt;
    if (!of || std::find(types.begin(), types.end(), *of) == types.end()) {
      continue;
    }
    if (range) {
      const auto day = source::ParseDate(text(*read, date));
      if (day && !range->Contains(*day)) {
        continue;
      }
    }
    note.Bind(1, text(*read, id)).Run();
    add(books::MasterKind::kLedger, *read, party);
  }
  noting->Commit();
  noting.reset();
  sqlite::Statement is_fed = fed.Prepare("SELECT 1 FROM ids WHERE id = ?1");

  const std::unique_ptr<source::Rows> line = source.Read(*lines);
  const auto of = line->Find("VoucherID"), ledger = line->Find("Ledger"), item = line->Find("Item"),
             godown = line->Find("Godown"), unit = line->Find("Unit");
  while (line->Next()) {
    is_fed.Bind(1, text(*line, of));
    const bool wanted = is_fed.Step();
    is_fed.Reset();
    if (!wanted) {
      continue;
    }
    add(books::MasterKind::kLedger, *line, ledger);
    add(books::MasterKind::kStockItem, *line, item);
    add(books::MasterKind::kGodown, *line, godown);
    add(books::MasterKind::kUnit, *line, unit);
  }
  return needs;
}

}  // namespace lirvo::feed
