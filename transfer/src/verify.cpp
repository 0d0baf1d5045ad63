// The verification: the table streamed once into a temporary SQLite database indexed by date, the
// books read back range by range, every row and every books voucher of the range judged, the
// findings kept on disk and handed out in row order at the end.
#include <sqlite3.h>

#include <lirvo/text.h>
#include <lirvo/verify.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <future>
#include <memory>
#include <unordered_map>

namespace lirvo::transfer {

namespace {

using modTally::Failure;
namespace FailureNumber = modTally::FailureNumber;
using Clock = std::chrono::steady_clock;

// ---------------------------------------------------------------------------------------------
// Comparing one voucher

bool SameName(std::string_view a, std::string_view b) {
  return text::EqualsNoCase(text::Trim(a), text::Trim(b));
}

// Amounts and rates: equal when they differ by less than a paisa (a server that keeps two
// decimals rounds to the nearest paisa, so half a paisa apart is still the same amount).
bool SameAmount(double a, double b) {
  return std::fabs(a - b) < 0.005 + 1e-7;
}

// A number at the start of `text` (blanks around it ignored) and what follows it, trimmed:
// " 2 Nos" is 2 and "Nos"; no number when `text` does not start with one.
std::optional<double> LeadingNumber(std::string_view text, std::string_view* rest = nullptr) {
  text = text::Trim(text);
  std::size_t end = 0;
  if (end < text.size() && (text[end] == '-' || text[end] == '+')) {
    ++end;
  }
  bool digits = false;
  for (; end < text.size() && ((text[end] >= '0' && text[end] <= '9') || text[end] == '.'); ++end) {
    digits = digits || text[end] != '.';
  }
  if (rest) {
    *rest = text::Trim(text.substr(digits ? end : 0));
  }
  if (!digits) {
    return std::nullopt;
  }
  return ReadNumber(text.substr(0, end));
}

std::optional<double> SourceNumber(const std::optional<std::string>& value) {
  return value && !text::Trim(*value).empty() ? std::optional<double>(ReadNumber(*value))
                                              : std::nullopt;
}

bool SameQuantity(const std::optional<double>& a, const std::optional<double>& b) {
  if (!a || !b) {
    return !a && !b;
  }
  return std::fabs(*a - *b) <= 1e-9 * std::max({1.0, std::fabs(*a), std::fabs(*b)});
}

std::string Plain(const std::optional<std::string>& value) {
  return std::string(text::Trim(value.value_or("")));
}

class Comparison {
 public:
  void Text(const char* field, std::string_view source, std::string_view books) {
    if (text::Trim(source) != text::Trim(books)) {
      Add(field, source, books);
    }
  }
  void Name(const char* field, std::string_view source, std::string_view books) {
    if (!SameName(source, books)) {
      Add(field, source, books);
    }
  }
  void Amount(const char* field, double source, std::string_view source_text,
              std::string_view books) {
    const std::optional<double> value = LeadingNumber(books);
    if (!value || !SameAmount(source, *value)) {
      Add(field, source_text, books);
    }
  }
  void Add(const char* field, std::string_view source, std::string_view books) {
    differences.push_back({field, std::string(text::Trim(source)), std::string(text::Trim(books))});
  }
  std::vector<FieldDifference> differences;
};

// The line named `name` among `lines` that is not `taken`.
const BooksLedgerLine* Named(const std::vector<BooksLedgerLine>& lines, std::string_view name,
                             const BooksLedgerLine* taken = nullptr) {
  for (const BooksLedgerLine& line : lines) {
    if (&line != taken && SameName(line.ledger, name)) {
      return &line;
    }
  }
  return nullptr;
}

const BooksLedgerLine* FirstOther(const std::vector<BooksLedgerLine>& lines,
                                  std::initializer_list<const BooksLedgerLine*> taken) {
  for (const BooksLedgerLine& line : lines) {
    if (std::find(taken.begin(), taken.end(), &line) == taken.end()) {
      return &line;
    }
  }
  return nullptr;
}

}  // namespace

std::vector<FieldDifference> CompareVoucher(const SalesRow& row, const BooksVoucher& books) {
  const SalesVoucherFigures figures = VoucherFigures(row);
  Comparison c;
  c.Text("date", Plain(row.VoucherDate), books.date);
  c.Text("reference", Plain(row.RefNo), books.reference);
  c.Name("party", Plain(row.PartyName), books.party);

  // The party's line is the one the books name as party (or the source names), else the first
  // deemed positive; the tax line the one named as the tax ledger, else the first other line.
  const std::vector<BooksLedgerLine>& lines = books.ledgers;
  const BooksLedgerLine* party = Named(lines, books.party);
  party = party ? party : Named(lines, Plain(row.PartyName));
  for (const BooksLedgerLine& line : lines) {
    if (!party && SameName(line.deemed_positive, "Yes")) {
      party = &line;
    }
  }
  party = party ? party : FirstOther(lines, {});
  const BooksLedgerLine* tax = Named(lines, Plain(row.TaxAc), party);
  tax = tax ? tax : FirstOther(lines, {party});
  const BooksLedgerLine none;
  c.Name("party ledger", Plain(row.PartyName), (party ? *party : none).ledger);
  c.Amount("party amount", -figures.gross, FormatAmount(-figures.gross),
           (party ? *party : none).amount);
  c.Name("tax ledger", Plain(row.TaxAc), (tax ? *tax : none).ledger);
  c.Amount("tax amount", figures.tax, FormatAmount(figures.tax), (tax ? *tax : none).amount);

  const BooksInventoryLine empty_line;
  const BooksInventoryLine& line = books.inventory.empty() ? empty_line : books.inventory.front();
  c.Name("item", Plain(row.ItemName), line.item);
  std::string_view books_unit;
  const std::optional<double> books_qty = LeadingNumber(line.quantity, &books_unit);
  if (!SameQuantity(SourceNumber(row.Qty), books_qty) || !SameName(Plain(row.Unit), books_unit)) {
    c.Add("quantity", Plain(row.Qty) + " " + Plain(row.Unit), line.quantity);
  }
  const std::size_t slash = line.rate.find('/');
  const std::optional<double> books_rate = LeadingNumber(line.rate.substr(0, slash));
  const std::string_view rate_unit = slash == std::string::npos
                                         ? std::string_view()
                                         : std::string_view(line.rate).substr(slash + 1);
  const std::optional<double> source_rate = SourceNumber(row.Rate);
  const bool same_rate = source_rate && books_rate ? SameAmount(*source_rate, *books_rate)
                                                   : !source_rate && !books_rate;
  if (!same_rate || !SameName(Plain(row.Unit), rate_unit)) {
    c.Add("rate", Plain(row.Rate) + "/" + Plain(row.Unit), line.rate);
  }
  c.Amount("amount", figures.amount, Plain(row.Amount), line.amount);

  // The sales ledger: the inventory line's allocation, or in some shapes a ledger entry.
  const BooksLedgerLine* sales =
      line.allocations.empty() ? Named(lines, Plain(row.SalesLedger), party) : &line.allocations[0];
  if (sales == tax && sales) {
    sales = nullptr;
  }
  c.Name("sales ledger", Plain(row.SalesLedger), (sales ? *sales : none).ledger);
  c.Amount("sales amount", figures.amount, Plain(row.Amount), (sales ? *sales : none).amount);

  const std::size_t expected_ledgers = line.allocations.empty() && sales ? 3 : 2;
  if (lines.size() > expected_ledgers) {
    c.Add("ledger entries", std::to_string(expected_ledgers), std::to_string(lines.size()));
  }
  if (books.inventory.size() > 1) {
    c.Add("inventory lines", "1", std::to_string(books.inventory.size()));
  }
  if (line.allocations.size() > 1) {
    c.Add("sales allocations", "1", std::to_string(line.allocations.size()));
  }
  return std::move(c.differences);
}

std::string_view OutcomeName(Outcome outcome) {
  switch (outcome) {
    case Outcome::kMissing:
      return "missing";
    case Outcome::kDifferent:
      return "different";
    case Outcome::kNotInSource:
      return "not in source";
    case Outcome::kNotExpected:
      return "not expected";
    case Outcome::kMasterMissing:
      return "master missing";
    case Outcome::kMasterDifferent:
      return "master different";
  }
  return "";
}

int VerifySummary::ExitStatus() const {
  if (interrupted) {
    return 130;
  }
  if (stopped) {
    return 1;
  }
  return missing + different + not_in_source + masters_missing + masters_different > 0 ? 3 : 0;
}

namespace {

// ---------------------------------------------------------------------------------------------
// The temporary database

Failure DbFailure(sqlite3* db, const std::string& what) {
  return Failure(FailureNumber::kFile,
                 "the verification's temporary database: " + what + ": " + sqlite3_errmsg(db));
}

class Database {
 public:
  // A private temporary database on disk (SQLite deletes it when the connection closes); pages
  // beyond its small cache go to the file, so memory stays flat.
  explicit Database(const char* schema) {
    sqlite3* db = nullptr;
    const int opened = sqlite3_open_v2(
        "", &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    db_.reset(db);
    if (opened != SQLITE_OK) {
      throw DbFailure(db, "cannot create it");
    }
    Exec(
        "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; PRAGMA temp_store=FILE;"
        "PRAGMA cache_size=-16384");
    Exec(schema);
  }
  void Exec(const char* sql) {
    if (sqlite3_exec(db_.get(), sql, nullptr, nullptr, nullptr) != SQLITE_OK) {
      throw DbFailure(db_.get(), sql);
    }
  }
  sqlite3* get() const { return db_.get(); }

 private:
  struct Close {
    void operator()(sqlite3* db) const { sqlite3_close(db); }
  };
  std::unique_ptr<sqlite3, Close> db_;
};

class Query {
 public:
  Query(const Database& db, const char* sql) : db_(db.get()) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db_, sql, -1, &statement, nullptr) != SQLITE_OK) {
      throw DbFailure(db_, sql);
    }
    statement_.reset(statement);
  }
  Query& Bind(int index, const std::optional<std::string>& value) {
    if (value) {
      sqlite3_bind_text(statement_.get(), index, value->data(), static_cast<int>(value->size()),
                        SQLITE_TRANSIENT);
    } else {
      sqlite3_bind_null(statement_.get(), index);
    }
    return *this;
  }
  Query& Bind(int index, std::string_view value) {
    sqlite3_bind_text(statement_.get(), index, value.data(), static_cast<int>(value.size()),
                      SQLITE_TRANSIENT);
    return *this;
  }
  Query& Bind(int index, const std::string& value) { return Bind(index, std::string_view(value)); }
  Query& Bind(int index, long long value) {
    sqlite3_bind_int64(statement_.get(), index, value);
    return *this;
  }
  bool Step() {
    const int result = sqlite3_step(statement_.get());
    if (result == SQLITE_ROW) {
      return true;
    }
    if (result != SQLITE_DONE) {
      throw DbFailure(db_, sqlite3_sql(statement_.get()));
    }
    return false;
  }
  // Steps to the end and resets, for statements that give no rows.
  void Run() {
    while (Step()) {
    }
    Reset();
  }
  std::optional<std::string> Value(int column) const {
    const unsigned char* text = sqlite3_column_text(statement_.get(), column);
    if (!text) {
      return std::nullopt;
    }
    return std::string(reinterpret_cast<const char*>(text),
                       static_cast<std::size_t>(sqlite3_column_bytes(statement_.get(), column)));
  }
  std::string Text(int column) const { return Value(column).value_or(""); }
  long long Int(int column) const { return sqlite3_column_int64(statement_.get(), column); }
  void Reset() {
    sqlite3_reset(statement_.get());
    sqlite3_clear_bindings(statement_.get());
  }

 private:
  struct Finalize {
    void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
  };
  sqlite3* db_;
  std::unique_ptr<sqlite3_stmt, Finalize> statement_;
};

constexpr const char* kSchema = R"sql(
CREATE TABLE source(row INTEGER PRIMARY KEY, voucher_id TEXT, date TEXT, ref TEXT, party TEXT,
  sales TEXT, tax TEXT, item TEXT, unit TEXT, qty TEXT, rate TEXT, amount TEXT, taxper TEXT,
  rejected TEXT);
CREATE INDEX source_by_id ON source(voucher_id);
CREATE TABLE findings(seq INTEGER PRIMARY KEY, row INTEGER NOT NULL, voucher_id TEXT NOT NULL,
  outcome INTEGER NOT NULL, field TEXT NOT NULL, source TEXT NOT NULL, books TEXT NOT NULL);
CREATE INDEX findings_by_id ON findings(voucher_id, outcome);
CREATE TABLE elsewhere(voucher_id TEXT PRIMARY KEY, row INTEGER NOT NULL, date TEXT NOT NULL);
CREATE TABLE elsewhere_fields(voucher_id TEXT NOT NULL, field TEXT NOT NULL, source TEXT NOT NULL,
  books TEXT NOT NULL);
)sql";

constexpr const char* kSourceColumns =
    "row, voucher_id, date, ref, party, sales, tax, item, unit, qty, rate, amount, taxper";

// The row read back from columns 1.. of `query` (column 0 is the row number).
SalesRow RowOf(const Query& query) {
  SalesRow row;
  int column = 1;
  for (std::optional<std::string> SalesRow::*member :
       {&SalesRow::VoucherID, &SalesRow::VoucherDate, &SalesRow::RefNo, &SalesRow::PartyName,
        &SalesRow::SalesLedger, &SalesRow::TaxAc, &SalesRow::ItemName, &SalesRow::Unit,
        &SalesRow::Qty, &SalesRow::Rate, &SalesRow::Amount, &SalesRow::TaxPer}) {
    row.*member = query.Value(column++);
  }
  return row;
}

// ---------------------------------------------------------------------------------------------
// Dates

bool IsCalendarDate(std::string_view date) {
  if (date.size() != 8 || date.find_first_not_of("0123456789") != std::string_view::npos) {
    return false;
  }
  const std::chrono::year_month_day day{
      std::chrono::year{std::stoi(std::string(date.substr(0, 4)))},
      std::chrono::month{static_cast<unsigned>(std::stoi(std::string(date.substr(4, 2))))},
      std::chrono::day{static_cast<unsigned>(std::stoi(std::string(date.substr(6, 2))))}};
  return day.ok();
}

std::chrono::sys_days Days(std::string_view date) {
  return std::chrono::year{std::stoi(std::string(date.substr(0, 4)))} /
         static_cast<int>(std::stoi(std::string(date.substr(4, 2)))) /
         static_cast<int>(std::stoi(std::string(date.substr(6, 2))));
}

std::string DateText(std::chrono::sys_days days) {
  const std::chrono::year_month_day day(days);
  char text[16];
  std::snprintf(text, sizeof text, "%04d%02u%02u", static_cast<int>(day.year()),
                static_cast<unsigned>(day.month()), static_cast<unsigned>(day.day()));
  return text;
}

std::string NextDay(std::string_view date) {
  return DateText(Days(date) + std::chrono::days(1));
}

// ---------------------------------------------------------------------------------------------
// The run

struct Range {
  std::string from, to;
};

// What a books voucher looks like, for the report.
std::string Describe(const BooksVoucher& voucher) {
  std::string text = "dated " + voucher.date + ", party " + voucher.party;
  if (!voucher.ledgers.empty()) {
    text += ", amount " + voucher.ledgers.front().amount;
  }
  return text;
}

std::string DescribeRow(const SalesRow& row) {
  return "dated " + Plain(row.VoucherDate) + ", party " + Plain(row.PartyName) + ", amount " +
         Plain(row.Amount);
}

// The masters of one kind the rows need, in the order first met, keyed as the server compares
// names; as in the sync, the first row that needs a name decides a ledger's group and a stock
// item's unit, over the whole table. Grows with the distinct names, not the rows.
class Needs {
 public:
  struct Need {
    std::string name;
    std::string detail;  // a ledger's group, a stock item's unit
    long row = 0;        // the first row in the range that needs it; 0 when none does
    std::string voucher_id;
  };
  void Note(const std::optional<std::string>& name, std::string_view detail, long row,
            const std::string& voucher_id, bool in_range) {
    const std::string_view trimmed = name ? text::Trim(*name) : std::string_view();
    const auto [at, added] = seen_.emplace(text::FoldCase(trimmed), all_.size());
    if (added) {
      all_.push_back({std::string(trimmed), std::string(detail), 0, {}});
    }
    Need& need = all_[at->second];
    if (in_range && need.row == 0) {
      need.row = row;
      need.voucher_id = voucher_id;
    }
  }
  const std::vector<Need>& all() const { return all_; }

 private:
  std::unordered_map<std::string, std::size_t> seen_;
  std::vector<Need> all_;
};

using BooksMasters = std::array<std::vector<BooksMaster>, 3>;  // units, ledgers, stock items

class Run {
 public:
  Run(const VerifyOptions& options, VerifySummary& summary)
      : options_(options),
        summary_(summary),
        insert_finding_(db_,
                        "INSERT INTO findings(row, voucher_id, outcome, field, source, books) "
                        "VALUES(?1, ?2, ?3, ?4, ?5, ?6)"),
        by_id_(db_, (std::string("SELECT ") + kSourceColumns +
                     ", rejected FROM source WHERE voucher_id = ?1 ORDER BY rejected IS NOT NULL, "
                     "row LIMIT 1")
                        .c_str()) {
    // The books' masters are read while the table is.
    masters_ = std::async(std::launch::async, [&options] {
      BooksMasters masters;
      int i = 0;
      for (const MasterType type :
           {MasterType::kUnit, MasterType::kLedger, MasterType::kStockItem}) {
        masters[static_cast<std::size_t>(i++)] =
            FetchMasters(options.url, options.company, type, options.limits);
      }
      return masters;
    });
  }

  void Load();
  void Masters();
  void Compare();
  void Emit();

 private:
  void Show(SyncPhase phase, long done, long total) {
    if (options_.progress) {
      options_.progress({phase, done, total});
    }
  }
  void Find(long row, const std::string& voucher_id, Outcome outcome, std::string_view field,
            std::string_view source, std::string_view books) {
    insert_finding_.Bind(1, static_cast<long long>(row))
        .Bind(2, voucher_id)
        .Bind(3, static_cast<long long>(outcome))
        .Bind(4, field)
        .Bind(5, source)
        .Bind(6, books)
        .Run();
  }
  // The reply `fetched` brings for `range`, or nothing when it is too large and `range` can be
  // split. Throws Failure naming the range.
  std::optional<modTally::Reply> Receive(const Range& range, std::future<modTally::Reply>& fetched);
  // Fetches and compares `range`, in halves when its reply is too large.
  void CompareRange(const Range& range);
  void CompareHalves(const Range& range);
  void CompareReply(const Range& range, const modTally::Reply& reply);
  std::string What(const Range& range) const {
    return "cannot read the sales vouchers of \"" + options_.company + "\" dated " + range.from +
           " to " + range.to + " from " + options_.url;
  }
  std::future<modTally::Reply> Fetch(const Range& range) {
    ++summary_.requests;
    return std::async(std::launch::async, [this, range] {
      return modTally::Exchange(options_.url,
                                VoucherExportRequest(options_.company, range.from, range.to),
                                options_.limits);
    });
  }
  void Judge(const Range& range, const BooksVoucher& voucher);
  long long Count(const char* sql) {
    Query query(db_, sql);
    query.Step();
    return query.Int(0);
  }

  const VerifyOptions& options_;
  VerifySummary& summary_;
  Database db_{kSchema};
  Query insert_finding_;
  Query by_id_;
  long compared_ = 0;
  long to_compare_ = 0;
  Needs units_, ledgers_, items_;
  std::future<BooksMasters> masters_;
};

void Run::Load() {
  SalesSource source(options_.database);
  summary_.rows = source.RowCount();
  Show(SyncPhase::kReading, 0, summary_.rows);
  Query insert(db_,
               "INSERT INTO source(row, voucher_id, date, ref, party, sales, tax, item, unit, "
               "qty, rate, amount, taxper, rejected) "
               "VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14)");
  Query first(db_, "SELECT row FROM source WHERE voucher_id = ?1 AND rejected IS NULL LIMIT 1");
  db_.Exec("BEGIN");
  while (source.Next()) {
    const SalesRow& row = source.row();
    const long number = source.number();
    if (number % 256 == 0) {
      Show(SyncPhase::kReading, number - 1, summary_.rows);
    }
    // The sync's own rules: the local checks, then one voucher per VoucherID (the first row).
    std::optional<std::string> reason = LocalCheck(row);
    if (!reason) {
      first.Bind(1, row.VoucherID);
      if (first.Step()) {
        reason = "VoucherID \"" + *row.VoucherID + "\" is also on row " +
                 std::to_string(first.Int(0)) + ", and a VoucherID names one voucher";
      }
      first.Reset();
    }
    insert.Bind(1, static_cast<long long>(number));
    int column = 2;
    for (const std::optional<std::string>* value :
         {&row.VoucherID, &row.VoucherDate, &row.RefNo, &row.PartyName, &row.SalesLedger,
          &row.TaxAc, &row.ItemName, &row.Unit, &row.Qty, &row.Rate, &row.Amount, &row.TaxPer}) {
      insert.Bind(column++, *value);
    }
    insert.Bind(column, reason);
    insert.Run();
    const std::string date = Plain(row.VoucherDate);
    if (!reason) {
      const bool in_range = (options_.from.empty() || date >= options_.from) &&
                            (options_.to.empty() || date <= options_.to);
      const std::string& id = *row.VoucherID;
      units_.Note(row.Unit, "", number, id, in_range);
      ledgers_.Note(row.PartyName, "Sundry Debtors", number, id, in_range);
      ledgers_.Note(row.SalesLedger, "Sales Accounts", number, id, in_range);
      ledgers_.Note(row.TaxAc, "Duties & Taxes", number, id, in_range);
      items_.Note(row.ItemName, Plain(row.Unit), number, id, in_range);
    }
    if (reason) {
      Find(number, row.VoucherID.value_or(""), Outcome::kNotExpected, "local checks", *reason, "");
    }
  }
  db_.Exec("CREATE INDEX source_by_date ON source(date) WHERE rejected IS NULL; COMMIT");
  Show(SyncPhase::kReading, summary_.rows, summary_.rows);

  // The range: as given, else the source's first and last date.
  Query span(db_, "SELECT min(date), max(date) FROM source WHERE rejected IS NULL");
  span.Step();
  summary_.from = options_.from.empty() ? span.Text(0) : options_.from;
  summary_.to = options_.to.empty() ? span.Text(1) : options_.to;
  // One end given beyond the source's dates (or no usable row): the range is that one day.
  if (options_.to.empty() && (summary_.to.empty() || summary_.to < summary_.from)) {
    summary_.to = summary_.from;
  }
  if (options_.from.empty() && (summary_.from.empty() || summary_.from > summary_.to)) {
    summary_.from = summary_.to;
  }
}

void Run::Masters() {
  Show(SyncPhase::kBooksMasters, 0, 3);
  const BooksMasters masters = masters_.get();
  summary_.requests += 3;
  Show(SyncPhase::kBooksMasters, 3, 3);
  const struct {
    const Needs& needs;
    const std::vector<BooksMaster>& held;
    const char* what;
    const char* detail;
  } kinds[] = {{units_, masters[0], "unit", ""},
               {ledgers_, masters[1], "ledger", "parent of ledger "},
               {items_, masters[2], "stock item", "unit of stock item "}};
  for (const auto& kind : kinds) {
    std::unordered_map<std::string, const BooksMaster*> held;
    for (const BooksMaster& master : kind.held) {
      held.emplace(text::FoldCase(master.name), &master);
    }
    for (const Needs::Need& need : kind.needs.all()) {
      if (need.row == 0) {
        continue;  // needed only by rows outside the range
      }
      ++summary_.masters_needed;
      const auto found = held.find(text::FoldCase(need.name));
      if (found == held.end()) {
        ++summary_.masters_missing;
        Find(need.row, need.voucher_id, Outcome::kMasterMissing, kind.what,
             need.detail.empty() ? need.name : need.name + " (" + need.detail + ")", "");
        continue;
      }
      const std::string& books =
          &kind.needs == &items_ ? found->second->base_units : found->second->parent;
      if (!need.detail.empty() && !SameName(need.detail, books)) {
        ++summary_.masters_different;
        Find(need.row, need.voucher_id, Outcome::kMasterDifferent, kind.detail + need.name,
             need.detail, books);
      }
    }
  }
}

void Run::Compare() {
  if (summary_.from.empty()) {
    return;  // no row to compare and no range given
  }
  if (summary_.from > summary_.to) {
    throw Failure(FailureNumber::kValue,
                  "the range " + summary_.from + " to " + summary_.to + " ends before it starts");
  }
  // Ranges of at most about page_rows source rows each, covering every day from `from` to `to`.
  std::vector<Range> ranges;
  {
    Query dates(db_,
                "SELECT date, count(*) FROM source WHERE rejected IS NULL AND date BETWEEN ?1 AND "
                "?2 GROUP BY date ORDER BY date");
    dates.Bind(1, summary_.from).Bind(2, summary_.to);
    std::string start = summary_.from;
    std::string last;
    long count = 0;
    while (dates.Step()) {
      const long rows = static_cast<long>(dates.Int(1));
      if (count > 0 && count + rows > options_.page_rows) {
        ranges.push_back({start, last});
        start = NextDay(last);
        count = 0;
      }
      count += rows;
      last = dates.Text(0);
      to_compare_ += rows;
    }
    ranges.push_back({start, summary_.to});
  }
  summary_.in_range =
      to_compare_ + static_cast<long>(Count("SELECT count(*) FROM findings WHERE outcome = 3"));
  Show(SyncPhase::kComparing, 0, to_compare_);
  // One export in flight at a time: the next range's while this one is compared.
  std::future<modTally::Reply> fetched = Fetch(ranges.front());
  for (std::size_t i = 0; i < ranges.size(); ++i) {
    const std::optional<modTally::Reply> reply = Receive(ranges[i], fetched);
    if (options_.interrupted && options_.interrupted()) {
      summary_.interrupted = true;
      return;
    }
    if (!reply) {
      CompareHalves(ranges[i]);
    }
    if (i + 1 < ranges.size()) {
      fetched = Fetch(ranges[i + 1]);
    }
    if (reply) {
      CompareReply(ranges[i], *reply);
    }
  }

  // Books vouchers found outside their row's range: the row was missing in its own range, so it
  // differs (in its date at least); or it was there, and this is a second voucher.
  db_.Exec(R"sql(
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

std::optional<modTally::Reply> Run::Receive(const Range& range,
                                            std::future<modTally::Reply>& fetched) {
  try {
    modTally::Reply reply = fetched.get();
    if (reply.text.size() > options_.page_bytes && range.from != range.to) {
      return std::nullopt;
    }
    return reply;
  } catch (const Failure& failure) {
    if (failure.number() == FailureNumber::kReplyTooLarge && range.from != range.to) {
      return std::nullopt;
    }
    throw Failure(failure.number(), What(range) + ": " + failure.description());
  }
}

void Run::CompareRange(const Range& range) {
  std::future<modTally::Reply> fetched = Fetch(range);
  const std::optional<modTally::Reply> reply = Receive(range, fetched);
  if (reply) {
    CompareReply(range, *reply);
  } else {
    CompareHalves(range);
  }
}

void Run::CompareHalves(const Range& range) {
  const auto from = Days(range.from);
  const std::string middle = DateText(from + (Days(range.to) - from) / 2);
  CompareRange({range.from, middle});
  CompareRange({NextDay(middle), range.to});
}

void Run::CompareReply(const Range& range, const modTally::Reply& reply) {
  const std::vector<BooksVoucher> vouchers =
      ReadVoucherReply(reply, What(range), range.from, range.to);
  std::unordered_map<std::string, std::size_t> by_remote_id;
  std::vector<bool> used(vouchers.size(), false);
  for (std::size_t i = 0; i < vouchers.size(); ++i) {
    if (!vouchers[i].remote_id.empty()) {
      by_remote_id.emplace(vouchers[i].remote_id, i);
    }
  }
  Query rows(db_, (std::string("SELECT ") + kSourceColumns +
                   " FROM source WHERE rejected IS NULL AND date BETWEEN ?1 AND ?2 ORDER BY row")
                      .c_str());
  rows.Bind(1, range.from).Bind(2, range.to);
  db_.Exec("BEGIN");
  while (rows.Step()) {
    const long number = static_cast<long>(rows.Int(0));
    const SalesRow row = RowOf(rows);
    const auto found = by_remote_id.find(*row.VoucherID);
    if (found == by_remote_id.end()) {
      Find(number, *row.VoucherID, Outcome::kMissing, "", DescribeRow(row), "");
    } else {
      used[found->second] = true;
      const std::vector<FieldDifference> differences = CompareVoucher(row, vouchers[found->second]);
      for (const FieldDifference& difference : differences) {
        Find(number, *row.VoucherID, Outcome::kDifferent, difference.field, difference.source,
             difference.books);
      }
      summary_.matched += differences.empty() ? 1 : 0;
    }
    if (++compared_ % 256 == 0) {
      Show(SyncPhase::kComparing, compared_, to_compare_);
    }
  }
  for (std::size_t i = 0; i < vouchers.size(); ++i) {
    if (!used[i]) {
      Judge(range, vouchers[i]);
    }
  }
  db_.Exec("COMMIT");
  Show(SyncPhase::kComparing, compared_, to_compare_);
}

// A books voucher of `range` that no row of the range took.
void Run::Judge(const Range& range, const BooksVoucher& voucher) {
  const std::string description = Describe(voucher);
  if (voucher.remote_id.empty()) {
    Find(0, "", Outcome::kNotInSource, "REMOTEID", "", "none, " + description);
    return;
  }
  by_id_.Bind(1, voucher.remote_id);
  if (!by_id_.Step()) {
    by_id_.Reset();
    Find(0, voucher.remote_id, Outcome::kNotInSource, "voucher", "", description);
    return;
  }
  const long number = static_cast<long>(by_id_.Int(0));
  const SalesRow row = RowOf(by_id_);
  const std::optional<std::string> rejected = by_id_.Value(13);
  by_id_.Reset();
  const std::string date = Plain(row.VoucherDate);
  if (rejected) {
    Find(number, voucher.remote_id, Outcome::kNotInSource, "local checks", *rejected, description);
  } else if (date >= range.from && date <= range.to) {
    Find(0, voucher.remote_id, Outcome::kNotInSource, "REMOTEID", "row " + std::to_string(number),
         "a second voucher with this REMOTEID, " + description);
  } else if (date < summary_.from || date > summary_.to) {
    // The row lies outside the range, so it is compared here and only here.
    for (const FieldDifference& d : CompareVoucher(row, voucher)) {
      Find(number, voucher.remote_id, Outcome::kDifferent, d.field, d.source, d.books);
    }
  } else {
    Query note(db_, "INSERT OR IGNORE INTO elsewhere(voucher_id, row, date) VALUES(?1, ?2, ?3)");
    note.Bind(1, voucher.remote_id).Bind(2, static_cast<long long>(number)).Bind(3, voucher.date);
    note.Run();
    if (sqlite3_changes(db_.get()) == 0) {
      Find(0, voucher.remote_id, Outcome::kNotInSource, "REMOTEID", "row " + std::to_string(number),
           "a second voucher with this REMOTEID, " + description);
      return;
    }
    Query field(db_,
                "INSERT INTO elsewhere_fields(voucher_id, field, source, books) "
                "VALUES(?1, ?2, ?3, ?4)");
    for (const FieldDifference& d : CompareVoucher(row, voucher)) {
      field.Bind(1, voucher.remote_id).Bind(2, d.field).Bind(3, d.source).Bind(4, d.books).Run();
    }
  }
}

void Run::Emit() {
  summary_.not_expected =
      static_cast<long>(Count("SELECT count(*) FROM findings WHERE outcome = 3"));
  summary_.missing = static_cast<long>(Count("SELECT count(*) FROM findings WHERE outcome = 0"));
  summary_.different =
      static_cast<long>(Count("SELECT count(DISTINCT row) FROM findings WHERE outcome = 1"));
  summary_.not_in_source =
      static_cast<long>(Count("SELECT count(*) FROM findings WHERE outcome = 2"));
  static_assert(static_cast<int>(Outcome::kNotExpected) == 3);
  if (!options_.finding) {
    return;
  }
  Query all(db_,
            "SELECT row, voucher_id, outcome, field, source, books FROM findings "
            "ORDER BY row = 0, row, seq");
  while (all.Step()) {
    options_.finding({all.Text(1), static_cast<long>(all.Int(0)), static_cast<Outcome>(all.Int(2)),
                      all.Text(3), all.Text(4), all.Text(5)});
  }
}

}  // namespace

VerifySummary Verify(const VerifyOptions& options) {
  if (text::Trim(options.company).empty()) {
    throw Failure(FailureNumber::kValue, "the verification needs a company to read");
  }
  for (const std::string* date : {&options.from, &options.to}) {
    if (!date->empty() && !IsCalendarDate(*date)) {
      throw Failure(FailureNumber::kValue, "\"" + *date + "\" is not a date (YYYYMMDD)");
    }
  }
  if (!options.from.empty() && !options.to.empty() && options.from > options.to) {
    throw Failure(FailureNumber::kValue,
                  "the range " + options.from + " to " + options.to + " ends before it starts");
  }
  if (options.page_rows < 1) {
    throw Failure(FailureNumber::kValue, "the page size must be at least one row");
  }
  const Clock::time_point start = Clock::now();
  VerifySummary summary;
  try {
    Run run(options, summary);
    run.Load();
    run.Masters();
    run.Compare();
    if (!summary.interrupted) {
      run.Emit();
    }
  } catch (const Failure& failure) {
    summary.stopped = failure.description();
  }
  summary.time = Clock::now() - start;
  return summary;
}

void PrintVerifySummary(std::ostream& out, const VerifySummary& s) {
  if (s.stopped) {
    out << "Rows:      " << s.rows << " in the table\n"
        << "Stopped: the comparison is incomplete, nothing proves the books right.\n";
    return;
  }
  out << "Rows:      " << s.rows << " in the table, " << s.in_range << " dated " << s.from << " to "
      << s.to << " (or failing the local checks)\n";
  out << "Vouchers:  " << s.matched << " match, " << s.missing << " missing from the books, "
      << s.different << " different, " << s.not_in_source
      << " in the books but not in the source\n";
  out << "           " << s.not_expected << " not expected: failed local checks\n";
  out << "Masters:   " << s.masters_needed << " needed, " << s.masters_missing << " missing, "
      << s.masters_different << " with another parent or unit\n";
  char time[32];
  std::snprintf(time, sizeof time, "%.1f s", s.time.count());
  out << "Requests:  " << s.requests << " export requests; time " << time << '\n';
  if (s.interrupted) {
    out << "Interrupted: the comparison is incomplete.\n";
  } else if (s.ExitStatus() == 0) {
    out << "Everything the source expects is in the books.\n";
  }
}

}  // namespace lirvo::transfer
