#include <lirvo/verify/spool.h>

#include <algorithm>

#include <lirvo/modTally.h>
#include <lirvo/verify/sales_fields.h>

namespace lirvo::verify {

using books::SalesRow;

namespace {

constexpr const char* kSchema = R"sql(
CREATE TABLE source(row INTEGER PRIMARY KEY, voucher_id TEXT, date TEXT, ref TEXT, party TEXT,
  sales TEXT, tax TEXT, item TEXT, unit TEXT, qty TEXT, rate TEXT, amount TEXT, taxper TEXT,
  rejected TEXT);
CREATE TABLE findings(seq INTEGER PRIMARY KEY, row INTEGER NOT NULL, voucher_id TEXT NOT NULL,
  outcome INTEGER NOT NULL, field TEXT NOT NULL, source TEXT NOT NULL, books TEXT NOT NULL);
CREATE INDEX findings_by_row ON findings(row);
CREATE TABLE elsewhere(voucher_id TEXT PRIMARY KEY, row INTEGER NOT NULL, date TEXT NOT NULL);
CREATE TABLE elsewhere_fields(voucher_id TEXT NOT NULL, field TEXT NOT NULL, source TEXT NOT NULL,
  books TEXT NOT NULL);
)sql";

// The row read back from columns 1.. of `query` (column 0 is the row number).
SalesRow RowOf(const sqlite::Statement& query) {
  return SalesFieldsAt(query, 1);
}

sqlite::OpenOptions TemporaryFile() {
  sqlite::OpenOptions options;
  options.name = "the verification's temporary database";
  options.raise = [](const std::string& message) {
    throw modTally::Failure(modTally::FailureNumber::kFile, message);
  };
  return options;
}

}  // namespace

Spool::Spool() : db_("", TemporaryFile()) {
  db_.Execute(
      "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; PRAGMA temp_store=FILE;"
      "PRAGMA cache_size=-16384");
  db_.Execute(kSchema);
}

void Spool::AddRow(long number, const SalesRow& row, const std::optional<std::string>& rejected) {
  sqlite::Statement& insert = db_.Query(
      "INSERT INTO source(row, voucher_id, date, ref, party, sales, tax, item, unit, "
      "qty, rate, amount, taxper, rejected) "
      "VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14)");
  insert.Bind(1, std::int64_t{number});
  BindSalesFields(insert, 2, row);
  insert.Bind(2 + static_cast<int>(std::size(books::kSalesMstColumns)), rejected);
  insert.Run();
  if (!rejected && row.VoucherID) {
    NoteAccepted(*row.VoucherID);
  }
}

void Spool::AddKey(long number, const std::string& voucher_id) {
  db_.Query("INSERT INTO source(row, voucher_id) VALUES(?1, ?2)")
      .Bind(1, std::int64_t{number})
      .Bind(2, voucher_id)
      .Run();
  NoteAccepted(voucher_id);
}

namespace {

// The two bits of the filter that stand for `voucher_id`.
std::pair<std::size_t, std::size_t> FilterBits(std::string_view voucher_id, std::size_t bits) {
  const std::uint64_t hash = std::hash<std::string_view>{}(voucher_id);
  const std::uint64_t second = (hash ^ (hash >> 31)) * 0x9E3779B97F4A7C15ULL;
  return {hash % bits, (second >> 17) % bits};
}

}  // namespace

void Spool::NoteAccepted(std::string_view voucher_id) {
  const auto [a, b] = FilterBits(voucher_id, accepted_filter_.size() * 64);
  accepted_filter_[a / 64] |= std::uint64_t{1} << (a % 64);
  accepted_filter_[b / 64] |= std::uint64_t{1} << (b % 64);
}

bool Spool::MaybeAccepted(std::string_view voucher_id) const {
  const auto [a, b] = FilterBits(voucher_id, accepted_filter_.size() * 64);
  return (accepted_filter_[a / 64] >> (a % 64) & 1) != 0 &&
         (accepted_filter_[b / 64] >> (b % 64) & 1) != 0;
}

std::optional<long> Spool::FirstAccepted(const std::string& voucher_id) {
  if (!MaybeAccepted(voucher_id)) {
    return std::nullopt;
  }
  IndexIds();
  sqlite::Statement& first =
      db_.Query("SELECT row FROM source WHERE voucher_id = ?1 AND rejected IS NULL LIMIT 1");
  first.Bind(1, voucher_id);
  std::optional<long> found;
  if (first.Step()) {
    found = static_cast<long>(first.Int(0));
  }
  first.Reset();
  return found;
}

void Spool::IndexDates() {
  db_.Execute("CREATE INDEX source_by_date ON source(date) WHERE rejected IS NULL");
}

std::pair<std::string, std::string> Spool::Span() {
  sqlite::Statement& span =
      db_.Query("SELECT min(date), max(date) FROM source WHERE rejected IS NULL");
  span.Step();
  std::pair<std::string, std::string> found(span.Text(0), span.Text(1));
  span.Reset();
  return found;
}

void Spool::ForEachDate(const std::string& from, const std::string& to,
                        const std::function<void(const std::string& date, long rows)>& each) {
  sqlite::Statement& dates = db_.Query(
      "SELECT date, count(*) FROM source WHERE rejected IS NULL AND date BETWEEN ?1 AND "
      "?2 GROUP BY date ORDER BY date");
  dates.Bind(1, from).Bind(2, to);
  while (dates.Step()) {
    each(dates.Text(0), static_cast<long>(dates.Int(1)));
  }
  dates.Reset();
}

void Spool::ForEachRow(const std::string& from, const std::string& to,
                       const std::function<void(long number, const SalesRow& row)>& each) {
  sqlite::Statement& rows = db_.Query(
      "SELECT row, voucher_id, date, ref, party, sales, tax, item, unit, qty, rate, amount, taxper"
      " FROM source WHERE rejected IS NULL AND date BETWEEN ?1 AND ?2");
  rows.Bind(1, from).Bind(2, to);
  while (rows.Step()) {
    each(static_cast<long>(rows.Int(0)), RowOf(rows));
  }
  rows.Reset();
}

void Spool::IndexIds() {
  if (!indexed_by_id_) {
    db_.Execute("CREATE INDEX source_by_id ON source(voucher_id)");
    indexed_by_id_ = true;
  }
}

std::optional<SpooledRow> Spool::ById(const std::string& voucher_id) {
  IndexIds();
  sqlite::Statement& by_id = db_.Query(
      "SELECT row, voucher_id, date, ref, party, sales, tax, item, unit, qty, rate, amount, taxper"
      ", rejected FROM source WHERE voucher_id = ?1 ORDER BY "
      "rejected IS NOT NULL, row LIMIT 1");
  by_id.Bind(1, voucher_id);
  std::optional<SpooledRow> found;
  if (by_id.Step()) {
    found = SpooledRow{static_cast<long>(by_id.Int(0)), RowOf(by_id), by_id.OptionalText(13), {}};
  }
  by_id.Reset();
  return found;
}

void Spool::AddFinding(long row, const std::string& voucher_id, Outcome outcome,
                       std::string_view field, std::string_view source, std::string_view books) {
  db_.Query(
         "INSERT INTO findings(row, voucher_id, outcome, field, source, books) "
         "VALUES(?1, ?2, ?3, ?4, ?5, ?6)")
      .Bind(1, std::int64_t{row})
      .BindUncopied(2, voucher_id)
      .Bind(3, static_cast<std::int64_t>(outcome))
      .BindUncopied(4, field)
      .BindUncopied(5, source)
      .BindUncopied(6, books)
      .Run();
}

long Spool::AddMissing(const std::string& from, const std::string& to) {
  sqlite::Statement& count =
      db_.Query("SELECT count(*) FROM source WHERE rejected IS NULL AND date BETWEEN ?1 AND ?2");
  count.Bind(1, from).Bind(2, to).Step();
  const auto rows = static_cast<long>(count.Int(0));
  count.Reset();
  // Kept in order of their first day (the walk notes them so, as a rule).
  const std::pair<std::string, std::string> range(from, to);
  missing_ranges_.insert(std::upper_bound(missing_ranges_.begin(), missing_ranges_.end(), range),
                         range);
  return rows;
}

bool Spool::InMissingRange(const std::string& date) const {
  // The ranges do not overlap: the last that starts on or before `date`.
  const auto after = std::upper_bound(
      missing_ranges_.begin(), missing_ranges_.end(), date,
      [](const std::string& day, const std::pair<std::string, std::string>& range) {
        return day < range.first;
      });
  return after != missing_ranges_.begin() && date <= std::prev(after)->second;
}

void Spool::WriteMissing() {
  static_assert(static_cast<int>(Outcome::kMissing) == 0);
  for (const auto& [from, to] : missing_ranges_) {
    db_.Query(
           "INSERT INTO findings(row, voucher_id, outcome, field, source, books)"
           " SELECT row, voucher_id, 0, '', 'dated ' || ifnull(date, '') || ', party ' ||"
           " ifnull(party, '') || ', amount ' || ifnull(amount, ''), '' FROM source"
           " WHERE rejected IS NULL AND date BETWEEN ?1 AND ?2")
        .Bind(1, from)
        .Bind(2, to)
        .Run();
  }
  missing_ranges_.clear();
}

bool Spool::NoteElsewhere(const std::string& voucher_id, long row, const std::string& date) {
  db_.Query("INSERT OR IGNORE INTO elsewhere(voucher_id, row, date) VALUES(?1, ?2, ?3)")
      .Bind(1, voucher_id)
      .Bind(2, std::int64_t{row})
      .Bind(3, date)
      .Run();
  return db_.Changes() > 0;
}

void Spool::AddElsewhereField(const std::string& voucher_id, const FieldDifference& difference) {
  db_.Query("INSERT INTO elsewhere_fields(voucher_id, field, source, books) VALUES(?1, ?2, ?3, ?4)")
      .Bind(1, voucher_id)
      .Bind(2, difference.field)
      .Bind(3, difference.source)
      .Bind(4, difference.books)
      .Run();
}

void Spool::SettleElsewhere() {
  sqlite::Statement& any = db_.Query("SELECT EXISTS(SELECT 1 FROM elsewhere)");
  any.Step();
  const bool none = any.Int(0) == 0;
  any.Reset();
  if (none) {
    return;
  }
  WriteMissing();
  // The findings by VoucherID are needed only here, and only when a voucher was found elsewhere:
  // indexed once, at the end, rather than kept up for every finding of the run.
  db_.Execute(R"sql(
CREATE INDEX IF NOT EXISTS findings_by_id ON findings(voucher_id, outcome);
INSERT INTO findings(row, voucher_id, outcome, field, source, books)
  SELECT e.row, e.voucher_id, 1, f.field, f.source, f.books
  FROM elsewhere e JOIN elsewhere_fields f ON f.voucher_id = e.voucher_id
  WHERE EXISTS (SELECT 1 FROM findings m WHERE m.voucher_id = e.voucher_id AND m.outcome = 0);
INSERT INTO findings(row, voucher_id, outcome, field, source, books)
  SELECT 0, e.voucher_id, 2, 'REMOTEID', 'row ' || e.row,
         'a second voucher with this REMOTEID, dated ' || e.date
  FROM elsewhere e
  WHERE NOT EXISTS (SELECT 1 FROM findings m WHERE m.voucher_id = e.voucher_id AND m.outcome = 0);
DELETE FROM findings WHERE outcome = 0 AND voucher_id IN (SELECT voucher_id FROM elsewhere);
)sql");
  static_assert(static_cast<int>(Outcome::kMissing) == 0 &&
                static_cast<int>(Outcome::kDifferent) == 1 &&
                static_cast<int>(Outcome::kNotInSource) == 2);
}

void Spool::ForEachChecked(const std::function<void(const CheckedRow&)>& each) {
  // One pass: each accepted row with its findings of the comparison, if any, beside it.
  sqlite::Statement& rows = db_.Query(
      "SELECT s.row, s.voucher_id, s.date, s.ref, s.party, s.sales, s.tax, s.item, s.unit, s.qty,"
      " s.rate, s.amount, s.taxper, f.outcome, f.field, f.source, f.books FROM source s"
      " LEFT JOIN findings f ON f.row = s.row AND f.outcome IN (?1, ?2)"
      " WHERE s.rejected IS NULL ORDER BY s.row, f.seq");
  rows.Bind(1, static_cast<std::int64_t>(Outcome::kMissing))
      .Bind(2, static_cast<std::int64_t>(Outcome::kDifferent));
  CheckedRow checked;
  bool pending = false;
  while (rows.Step()) {
    const long number = static_cast<long>(rows.Int(0));
    if (!pending || number != checked.number) {
      if (pending) {
        each(checked);
      }
      checked.number = number;
      checked.row = RowOf(rows);
      checked.missing = InMissingRange(*checked.row.VoucherDate);
      checked.differences.clear();
      pending = true;
    }
    if (rows.OptionalText(13)) {
      if (static_cast<Outcome>(rows.Int(13)) == Outcome::kMissing) {
        checked.missing = true;
      } else {
        checked.differences.push_back({rows.Text(14), rows.Text(15), rows.Text(16)});
      }
    }
  }
  rows.Reset();
  if (pending) {
    each(checked);
  }
}

void Spool::ToSend(long number) {
  const auto at = static_cast<std::size_t>(number);
  if (at >= to_send_.size()) {
    to_send_.resize(std::max(at + 1, to_send_.size() * 2));
  }
  to_send_[at] = true;
}

std::vector<SpooledRow> Spool::ToSendAfter(long after, int limit) {
  std::vector<SpooledRow> found;
  std::size_t first = 0;
  std::size_t last = 0;
  std::size_t count = 0;
  for (auto at = static_cast<std::size_t>(std::max(after, 0L)) + 1;
       at < to_send_.size() && count < static_cast<std::size_t>(limit); ++at) {
    if (to_send_[at]) {
      first = count++ == 0 ? at : first;
      last = at;
    }
  }
  if (count == 0) {
    return found;
  }
  // The rows of a batch lie between its first and its last: one read in row order, the rows not
  // to send passed over. Batches follow one another, so the table is read once in all.
  sqlite::Statement& rows = db_.Query(
      "SELECT row, voucher_id, date, ref, party, sales, tax, item, unit, qty, rate, amount, taxper"
      " FROM source WHERE row BETWEEN ?1 AND ?2");
  rows.Bind(1, static_cast<std::int64_t>(first)).Bind(2, static_cast<std::int64_t>(last));
  found.reserve(count);
  while (rows.Step()) {
    const auto number = static_cast<std::size_t>(rows.Int(0));
    if (to_send_[number]) {
      found.push_back({static_cast<long>(number), RowOf(rows), std::nullopt, {}});
    }
  }
  rows.Reset();
  return found;
}

long Spool::Count(std::string_view sql, Outcome outcome) {
  sqlite::Statement& count = db_.Query(sql);
  count.Bind(1, static_cast<std::int64_t>(outcome));
  count.Step();
  const long found = static_cast<long>(count.Int(0));
  count.Reset();
  return found;
}

long Spool::CountFindings(Outcome outcome) {
  WriteMissing();
  return Count("SELECT count(*) FROM findings WHERE outcome = ?1", outcome);
}

long Spool::CountRows(Outcome outcome) {
  WriteMissing();
  return Count("SELECT count(DISTINCT row) FROM findings WHERE outcome = ?1", outcome);
}

void Spool::ForEachFinding(const std::function<void(const Finding&)>& each,
                           std::optional<Outcome> only) {
  if (only != Outcome::kNotExpected) {
    WriteMissing();
  }
  sqlite::Statement& all = db_.Query(
      "SELECT row, voucher_id, outcome, field, source, books FROM findings "
      "WHERE ?1 IS NULL OR outcome = ?1 ORDER BY row = 0, row, seq");
  if (only) {
    all.Bind(1, static_cast<std::int64_t>(*only));
  } else {
    all.Bind(1, std::optional<std::string>());
  }
  while (all.Step()) {
    each({all.Text(1), static_cast<long>(all.Int(0)), static_cast<Outcome>(all.Int(2)), all.Text(3),
          all.Text(4), all.Text(5)});
  }
  all.Reset();
}

}  // namespace lirvo::verify
