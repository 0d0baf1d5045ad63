// The store's SQL: every statement the stand-in runs against its database is in this one file,
// next to the schema it relies on, so the two are read and changed together (hence its length).
#include "store.h"

#include <algorithm>

namespace lirvo::standin {

namespace {

constexpr int kSchemaVersion = 5;

// Version 2 added the index that the export of vouchers by date range reads.
constexpr std::string_view kDateIndex =
    "CREATE INDEX vouchers_by_date ON vouchers(company_id, date)";

// Version 3 marks the masters every company holds from the start and keeps the batch allocations
// of inventory lines (godown, batch, order and tracking numbers, order due date).
constexpr std::string_view kBatchColumns = R"sql(
ALTER TABLE masters ADD COLUMN predefined INTEGER NOT NULL DEFAULT 0;
ALTER TABLE voucher_entries ADD COLUMN batch_name TEXT NOT NULL DEFAULT '';
ALTER TABLE voucher_entries ADD COLUMN order_no TEXT NOT NULL DEFAULT '';
ALTER TABLE voucher_entries ADD COLUMN tracking_no TEXT NOT NULL DEFAULT '';
ALTER TABLE voucher_entries ADD COLUMN due_date TEXT NOT NULL DEFAULT '';
)sql";

constexpr std::string_view kEntryColumns =
    "kind, name, master_id, amount, deemed_positive, actual_qty, billed_qty, rate, batch_name, "
    "order_no, tracking_no, due_date";

// Names compare case-insensitively (ASCII letters), as the accounting server does.
constexpr std::string_view kSchema = R"sql(
CREATE TABLE companies(
  id INTEGER PRIMARY KEY,
  name TEXT NOT NULL UNIQUE COLLATE NOCASE);
CREATE TABLE masters(
  id INTEGER PRIMARY KEY,
  company_id INTEGER NOT NULL REFERENCES companies(id),
  kind TEXT NOT NULL,
  name TEXT NOT NULL COLLATE NOCASE,
  parent TEXT NOT NULL DEFAULT '',
  predefined INTEGER NOT NULL DEFAULT 0,
  UNIQUE(company_id, kind, name));
CREATE TABLE vouchers(
  id INTEGER PRIMARY KEY,
  company_id INTEGER NOT NULL REFERENCES companies(id),
  remote_id TEXT NOT NULL,
  guid TEXT NOT NULL,
  date TEXT NOT NULL,
  type TEXT NOT NULL,
  number TEXT NOT NULL,
  reference TEXT NOT NULL,
  party TEXT NOT NULL,
  narration TEXT NOT NULL);
CREATE INDEX vouchers_by_remote_id ON vouchers(company_id, remote_id);
CREATE INDEX vouchers_by_date ON vouchers(company_id, date);
)sql";

// A voucher's lines are kept together, in their order, under their voucher (WITHOUT ROWID): an
// export reads them with one seek per voucher rather than one per line. Version 4 moved them so.
constexpr std::string_view kEntryDefinitions = R"sql((
  voucher_id INTEGER NOT NULL REFERENCES vouchers(id) ON DELETE CASCADE,
  position INTEGER NOT NULL,
  kind TEXT NOT NULL,
  name TEXT NOT NULL,
  master_id INTEGER NOT NULL REFERENCES masters(id),
  amount TEXT NOT NULL,
  deemed_positive TEXT NOT NULL,
  actual_qty TEXT NOT NULL,
  billed_qty TEXT NOT NULL,
  rate TEXT NOT NULL,
  batch_name TEXT NOT NULL DEFAULT '',
  order_no TEXT NOT NULL DEFAULT '',
  tracking_no TEXT NOT NULL DEFAULT '',
  due_date TEXT NOT NULL DEFAULT '',
  PRIMARY KEY(voucher_id, position)) WITHOUT ROWID)sql";

// A voucher's line as written: its voucher, its place, then kEntryColumns.
const std::string& EntryRow() {
  static const std::string row = "voucher_id, position, " + std::string(kEntryColumns);
  return row;
}

// A master's values are kept together under it, in their order (WITHOUT ROWID), as a voucher's
// lines are: one B-tree to write per value rather than a table and its key's index. Version 5
// moved them so, and dropped the index of voucher lines by master, which cost every line written
// a second B-tree for the rare deletion of a master (VoucherUses).
constexpr std::string_view kValueDefinitions = R"sql((
  master_id INTEGER NOT NULL REFERENCES masters(id) ON DELETE CASCADE,
  position INTEGER NOT NULL,
  element TEXT NOT NULL,
  value TEXT NOT NULL,
  PRIMARY KEY(master_id, position)) WITHOUT ROWID)sql";

constexpr std::string_view kValueRow = "master_id, position, element, value";

std::string CreateTable(std::string_view name, std::string_view definitions) {
  return "CREATE TABLE " + std::string(name) + std::string(definitions) + ";";
}

// Moves the rows of `table` (its columns `row`) into a new table of `definitions`, which then
// takes its name: how an earlier store's table gets its present key.
void Rebuild(Database& db, std::string_view table, std::string_view definitions,
             std::string_view row) {
  const std::string old(table);
  const std::string rebuilt = old + "_rebuilt";
  const std::string columns(row);
  db.Execute(CreateTable(rebuilt, definitions));
  db.Execute("INSERT INTO " + rebuilt + "(" + columns + ") SELECT " + columns + " FROM " + old);
  db.Execute("DROP TABLE " + old);
  db.Execute("ALTER TABLE " + rebuilt + " RENAME TO " + old);
}

// `sql`, made the first time: the INSERT into `table` of `rows` rows of its columns `row`, which
// are `columns` in number. A failed write ends the whole request (see Savepoint), so it is an
// INSERT OR ROLLBACK: an INSERT of several rows that could fail halfway would otherwise copy
// every page it changes into a statement journal, to undo itself alone.
const std::string& RowsInsert(std::string& sql, std::string_view table, std::string_view row,
                              int columns, std::size_t rows) {
  if (sql.empty()) {
    sql.append("INSERT OR ROLLBACK INTO ").append(table).append("(").append(row).append(") VALUES");
    for (std::size_t i = 0; i < rows; ++i) {
      sql.append(i == 0 ? "(" : ",(");
      for (int column = 0; column < columns; ++column) {
        sql.append(column == 0 ? "?" : ",?");
      }
      sql.append(")");
    }
  }
  return sql;
}

// The entry at the row `entries` stands on, its columns in the order of kEntryColumns.
EntryRecord EntryOf(Statement& entries) {
  return {entries.Text(0), entries.Text(1), entries.Int(2),   entries.Text(3),
          entries.Text(4), entries.Text(5), entries.Text(6),  entries.Text(7),
          entries.Text(8), entries.Text(9), entries.Text(10), entries.Text(11)};
}

}  // namespace

Store::Store(const std::string& path) : db_(path.empty() ? ":memory:" : path, false) {
  // The references are not enforced: checking them cost every line and value written two look-ups
  // more. The store keeps them itself: a master or voucher is written only after every master it
  // names was found, a master in use is not deleted (VoucherUses), and a deletion removes its
  // values or lines with it.
  db_.Execute("PRAGMA foreign_keys = OFF");
  if (!path.empty()) {
    // WAL lets a reader (a test, sqlite3) look at the file while the server writes; FULL makes
    // every commit reach the disk before the reply goes out.
    Statement& mode = db_.Query("PRAGMA journal_mode = WAL");
    if (!mode.Step() || mode.Text(0) != "wal") {
      throw StoreError(path + ": cannot switch the store to WAL mode");
    }
    mode.Reset();
    db_.Execute("PRAGMA synchronous = FULL");
  }
  Statement& version_query = db_.Query("PRAGMA user_version");
  version_query.Step();
  const std::int64_t version = version_query.Int(0);
  version_query.Reset();
  if (version == kSchemaVersion) {
    return;
  }
  if (version >= 1 && version < kSchemaVersion) {
    Upgrade(version);
    return;
  }
  Statement& tables = db_.Query("SELECT count(*) FROM sqlite_schema");
  tables.Step();
  const std::int64_t table_count = tables.Int(0);
  tables.Reset();
  if (version != 0 || table_count != 0) {
    throw StoreError(db_.path() + ": not a tally-standin store (schema version " +
                     std::to_string(version) + ", expected " + std::to_string(kSchemaVersion) +
                     ")");
  }
  Transaction transaction(*this);
  db_.Execute(kSchema);
  db_.Execute(CreateTable("master_values", kValueDefinitions));
  db_.Execute(CreateTable("voucher_entries", kEntryDefinitions));
  db_.Execute("PRAGMA user_version = " + std::to_string(kSchemaVersion));
  transaction.Commit();
}

// Brings a store of an earlier version (1 to kSchemaVersion - 1) to the present layout, keeping
// what it holds.
void Store::Upgrade(std::int64_t version) {
  // The predefined masters of each company are added when the service opens it.
  Transaction transaction(*this);
  if (version == 1) {
    db_.Execute(kDateIndex);
  }
  if (version <= 2) {
    db_.Execute(kBatchColumns);
  }
  if (version <= 3) {
    Rebuild(db_, "voucher_entries", kEntryDefinitions, EntryRow());
  } else {
    db_.Execute("DROP INDEX voucher_entries_by_master");
  }
  Rebuild(db_, "master_values", kValueDefinitions, kValueRow);
  db_.Execute("PRAGMA user_version = " + std::to_string(kSchemaVersion));
  transaction.Commit();
}

Store::Transaction::Transaction(Store& store)
    : store_(store), transaction_(store.db_, "BEGIN IMMEDIATE") {
  store_.master_ids_.clear();
  store_.item_undone_after_write_ = false;
}

Store::Transaction::~Transaction() {
  store_.master_ids_.clear();
}

void Store::Transaction::Commit() {
  if (store_.item_undone_after_write_) {
    throw StoreError(store_.db_.path() +
                     ": an item of the request was refused after it had changed the store; the "
                     "whole request is undone");
  }
  transaction_.Commit();
}

// An item checks everything it can refuse before its first write, and a failure of a write
// itself ends the whole request (its transaction is rolled back), so an SQLite savepoint per item
// would only cost time: this one records whether the item wrote. Should an item ever be undone
// after writing, the transaction refuses to commit, so no half-applied item can be kept.
Store::Savepoint::Savepoint(Store& store) : store_(store) {
  store_.item_wrote_ = false;
}

Store::Savepoint::~Savepoint() {
  if (!done_) {
    // Ids found inside the item may belong to masters it created.
    store_.master_ids_.clear();
    store_.item_undone_after_write_ = store_.item_undone_after_write_ || store_.item_wrote_;
  }
}

void Store::Savepoint::Release() {
  done_ = true;
}

std::int64_t Store::EnsureCompany(std::string_view name) {
  item_wrote_ = true;
  Statement& insert = db_.Query("INSERT OR IGNORE INTO companies(name) VALUES(?1)");
  insert.Bind(1, name).Step();
  Statement& find = db_.Query("SELECT id FROM companies WHERE name = ?1");
  find.Bind(1, name).Step();
  const std::int64_t id = find.Int(0);
  find.Reset();
  return id;
}

std::optional<MasterRecord> Store::FindMaster(std::int64_t company, std::string_view kind,
                                              std::string_view name) {
  Statement& find = db_.Query(
      "SELECT id, name, parent, predefined FROM masters WHERE company_id = ?1 AND kind = ?2 AND "
      "name = ?3");
  find.Bind(1, company).Bind(2, kind).Bind(3, name);
  if (!find.Step()) {
    return std::nullopt;
  }
  MasterRecord master{find.Int(0), find.Text(1), find.Text(2), {}, find.Int(3) != 0};
  find.Reset();
  master.values = ValuesOf(master.id);
  return master;
}

std::optional<std::int64_t> Store::MasterId(std::int64_t company, std::string_view kind,
                                            std::string_view name) {
  // The key folds ASCII letters as the NOCASE collation of `masters.name` does.
  master_key_.assign(std::to_string(company)).append(1, '\x1f').append(kind).append(1, '\x1f');
  for (const char c : name) {
    master_key_ += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  }
  if (const auto found = master_ids_.find(master_key_); found != master_ids_.end()) {
    return found->second;
  }
  Statement& find =
      db_.Query("SELECT id FROM masters WHERE company_id = ?1 AND kind = ?2 AND name = ?3");
  find.Bind(1, company).Bind(2, kind).Bind(3, name);
  if (!find.Step()) {
    return std::nullopt;
  }
  const std::int64_t id = find.Int(0);
  find.Reset();
  master_ids_.emplace(master_key_, id);
  return id;
}

std::int64_t Store::AddMaster(std::int64_t company, std::string_view kind,
                              const MasterRecord& master) {
  item_wrote_ = true;
  db_.Query(
         "INSERT INTO masters(company_id, kind, name, parent, predefined) VALUES(?1, ?2, ?3, ?4, "
         "?5)")
      .Bind(1, company)
      .Bind(2, kind)
      .Bind(3, master.name)
      .Bind(4, master.parent)
      .Bind(5, static_cast<std::int64_t>(master.predefined ? 1 : 0))
      .Step();
  const std::int64_t id = db_.LastInsertId();
  WriteValues(id, master.values);
  return id;
}

void Store::ChangeMaster(const MasterRecord& master) {
  item_wrote_ = true;
  master_ids_.clear();
  db_.Query("UPDATE masters SET name = ?2, parent = ?3 WHERE id = ?1")
      .Bind(1, master.id)
      .Bind(2, master.name)
      .Bind(3, master.parent)
      .Step();
  db_.Query("DELETE FROM master_values WHERE master_id = ?1").Bind(1, master.id).Step();
  WriteValues(master.id, master.values);
}

void Store::RemoveMaster(std::int64_t id) {
  item_wrote_ = true;
  master_ids_.clear();
  db_.Query("DELETE FROM master_values WHERE master_id = ?1").Bind(1, id).Step();
  db_.Query("DELETE FROM masters WHERE id = ?1").Bind(1, id).Step();
}

// A scan of every voucher line: no index by master is kept, as a master is deleted far more
// rarely than lines are written.
std::int64_t Store::VoucherUses(std::int64_t master_id) {
  Statement& count = db_.Query("SELECT count(*) FROM voucher_entries WHERE master_id = ?1");
  count.Bind(1, master_id).Step();
  const std::int64_t uses = count.Int(0);
  count.Reset();
  return uses;
}

std::vector<MasterRecord> Store::Masters(std::int64_t company, std::string_view kind,
                                         std::int64_t limit) {
  std::vector<MasterRecord> masters;
  // One pass over the masters and their values together, rather than a query per master. The
  // masters are walked in the table's order (NOT INDEXED), which is their ids' and needs no sort
  // as the index by name would; their values come in order from their key.
  Statement& list = db_.Query(
      "SELECT m.id, m.name, m.parent, v.position IS NOT NULL, v.element, v.value, m.predefined "
      "FROM masters m NOT INDEXED "
      "LEFT JOIN master_values v ON v.master_id = m.id WHERE m.company_id = ?1 AND m.kind = ?2 "
      "ORDER BY m.id, v.position");
  list.Bind(1, company).Bind(2, kind);
  try {
    while (list.Step()) {
      const std::int64_t id = list.Int(0);
      if (masters.empty() || masters.back().id != id) {
        if (static_cast<std::int64_t>(masters.size()) >= limit) {
          break;
        }
        masters.push_back({id, list.Text(1), list.Text(2), {}, list.Int(6) != 0});
      }
      if (list.Int(3) != 0) {
        masters.back().values.emplace_back(list.Text(4), list.Text(5));
      }
    }
  } catch (...) {
    list.Reset();
    throw;
  }
  list.Reset();
  return masters;
}

std::int64_t Store::CountMasters(std::int64_t company, std::string_view kind) {
  Statement& count = db_.Query("SELECT count(*) FROM masters WHERE company_id = ?1 AND kind = ?2");
  count.Bind(1, company).Bind(2, kind).Step();
  const std::int64_t total = count.Int(0);
  count.Reset();
  return total;
}

std::optional<std::int64_t> Store::FindVoucher(std::int64_t company, std::string_view remote_id) {
  Statement& find = db_.Query(
      "SELECT id FROM vouchers WHERE company_id = ?1 AND remote_id = ?2 ORDER BY id LIMIT 1");
  find.Bind(1, company).Bind(2, remote_id);
  if (!find.Step()) {
    return std::nullopt;
  }
  const std::int64_t id = find.Int(0);
  find.Reset();
  return id;
}

// Runs `statement` with ?1 = `key` and the voucher's own columns as ?2 to ?9, bound without
// copying and reset before the voucher can go.
void Store::WriteVoucher(Statement& statement, std::int64_t key, const VoucherRecord& voucher) {
  item_wrote_ = true;
  statement.Bind(1, key)
      .BindUncopied(2, voucher.remote_id)
      .BindUncopied(3, voucher.guid)
      .BindUncopied(4, voucher.date)
      .BindUncopied(5, voucher.type)
      .BindUncopied(6, voucher.number)
      .BindUncopied(7, voucher.reference)
      .BindUncopied(8, voucher.party)
      .BindUncopied(9, voucher.narration)
      .Step();
  statement.Reset();
}

std::int64_t Store::AddVoucher(std::int64_t company, const VoucherRecord& voucher) {
  WriteVoucher(db_.Query("INSERT INTO vouchers(company_id, remote_id, guid, date, type, number, "
                         "reference, party, narration) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)"),
               company, voucher);
  const std::int64_t id = db_.LastInsertId();
  WriteEntries(id, voucher.entries);
  return id;
}

void Store::ReplaceVoucher(const VoucherRecord& voucher) {
  WriteVoucher(db_.Query("UPDATE vouchers SET remote_id = ?2, guid = ?3, date = ?4, type = ?5, "
                         "number = ?6, reference = ?7, party = ?8, narration = ?9 WHERE id = ?1"),
               voucher.id, voucher);
  db_.Query("DELETE FROM voucher_entries WHERE voucher_id = ?1").Bind(1, voucher.id).Step();
  WriteEntries(voucher.id, voucher.entries);
}

void Store::RemoveVoucher(std::int64_t id) {
  item_wrote_ = true;
  db_.Query("DELETE FROM voucher_entries WHERE voucher_id = ?1").Bind(1, id).Step();
  db_.Query("DELETE FROM vouchers WHERE id = ?1").Bind(1, id).Step();
}

std::vector<VoucherRecord> Store::Vouchers(std::int64_t company, std::int64_t limit) {
  std::vector<VoucherRecord> vouchers;
  Statement& list = db_.Query(
      "SELECT id, remote_id, guid, date, type, number, reference, party, narration FROM vouchers "
      "WHERE company_id = ?1 ORDER BY id LIMIT ?2");
  list.Bind(1, company).Bind(2, limit);
  while (list.Step()) {
    vouchers.push_back({list.Int(0),
                        list.Text(1),
                        list.Text(2),
                        list.Text(3),
                        list.Text(4),
                        list.Text(5),
                        list.Text(6),
                        list.Text(7),
                        list.Text(8),
                        {}});
  }
  list.Reset();
  for (VoucherRecord& voucher : vouchers) {
    Statement& entries = db_.Query("SELECT " + std::string(kEntryColumns) +
                                   " FROM voucher_entries WHERE voucher_id = ?1 ORDER BY position");
    entries.Bind(1, voucher.id);
    while (entries.Step()) {
      voucher.entries.push_back(EntryOf(entries));
    }
    entries.Reset();
  }
  return vouchers;
}

void Store::ForEachVoucher(std::int64_t company, const VoucherFilter& filter,
                           const std::function<void(const VoucherRecord&)>& visit) {
  Statement& list = db_.Query(
      "SELECT id, remote_id, guid, date, type, number, reference, party, narration FROM vouchers "
      "WHERE company_id = ?1 AND date >= ?2 AND date <= ?3 AND (?4 = '' OR type = ?4 COLLATE "
      "NOCASE) ORDER BY date, id");
  list.Bind(1, company)
      .Bind(2, filter.from.empty() ? std::string_view("00000000") : filter.from)
      .Bind(3, filter.to.empty() ? std::string_view("99999999") : filter.to)
      .Bind(4, filter.type);
  // One voucher in memory at a time: its entries are read while the list is being stepped.
  Statement& entries = db_.Query("SELECT " + std::string(kEntryColumns) +
                                 " FROM voucher_entries WHERE voucher_id = ?1 ORDER BY position");
  try {
    while (list.Step()) {
      VoucherRecord voucher{list.Int(0),  list.Text(1), list.Text(2), list.Text(3), list.Text(4),
                            list.Text(5), list.Text(6), list.Text(7), list.Text(8), {}};
      entries.Bind(1, voucher.id);
      while (entries.Step()) {
        voucher.entries.push_back(EntryOf(entries));
      }
      entries.Reset();
      visit(voucher);
    }
  } catch (...) {
    list.Reset();
    entries.Reset();
    throw;
  }
  list.Reset();
}

std::int64_t Store::CountVouchers(std::int64_t company) {
  Statement& count = db_.Query("SELECT count(*) FROM vouchers WHERE company_id = ?1");
  count.Bind(1, company).Step();
  const std::int64_t total = count.Int(0);
  count.Reset();
  return total;
}

ElementValues Store::ValuesOf(std::int64_t master_id) {
  ElementValues values;
  Statement& list =
      db_.Query("SELECT element, value FROM master_values WHERE master_id = ?1 ORDER BY position");
  list.Bind(1, master_id);
  while (list.Step()) {
    values.emplace_back(list.Text(0), list.Text(1));
  }
  list.Reset();
  return values;
}

template <class Row, class BindRow>
void Store::InsertRows(Inserts& inserts, std::string_view table, std::string_view row,
                       std::int64_t key, const std::vector<Row>& rows, BindRow bind) {
  const auto columns = static_cast<int>(std::count(row.begin(), row.end(), ',') + 1);
  std::int64_t position = 1;
  for (std::size_t first = 0; first < rows.size(); first += kRowsPerInsert) {
    const std::size_t count = std::min(kRowsPerInsert, rows.size() - first);
    Statement& insert = db_.Query(RowsInsert(inserts[count - 1], table, row, columns, count));
    int at = 1;
    for (std::size_t i = first; i < first + count; ++i) {
      insert.Bind(at, key).Bind(at + 1, position++);
      bind(insert, at + 2, rows[i]);
      at += columns;
    }
    insert.Step();
    insert.Reset();  // no binding outlives the rows
  }
}

void Store::WriteValues(std::int64_t master_id, const ElementValues& values) {
  InsertRows(value_inserts_, "master_values", kValueRow, master_id, values,
             [](Statement& insert, int at, const auto& value) {
               insert.BindUncopied(at, value.first).BindUncopied(at + 1, value.second);
             });
}

void Store::WriteEntries(std::int64_t voucher_id, const std::vector<EntryRecord>& entries) {
  InsertRows(entry_inserts_, "voucher_entries", EntryRow(), voucher_id, entries,
             [](Statement& insert, int at, const EntryRecord& entry) {
               insert.BindUncopied(at, entry.kind)
                   .BindUncopied(at + 1, entry.name)
                   .Bind(at + 2, entry.master_id)
                   .BindUncopied(at + 3, entry.amount)
                   .BindUncopied(at + 4, entry.deemed_positive)
                   .BindUncopied(at + 5, entry.actual_qty)
                   .BindUncopied(at + 6, entry.billed_qty)
                   .BindUncopied(at + 7, entry.rate)
                   .BindUncopied(at + 8, entry.batch_name)
                   .BindUncopied(at + 9, entry.order_no)
                   .BindUncopied(at + 10, entry.tracking_no)
                   .BindUncopied(at + 11, entry.due_date);
             });
}

}  // namespace lirvo::standin
