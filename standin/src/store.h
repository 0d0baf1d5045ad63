// The stand-in's store: companies, masters with their element values, and vouchers with their
// entries, in one SQLite database (a file, or memory). Not thread-safe: the service serialises
// every use behind one lock.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "sqlite.h"

namespace lirvo::standin {

// The values below a master element, each leaf as (path below the master, text), for example
// ("NAME.LIST/NAME", "Cash") or ("PARENT", "Sundry Debtors"), in the order they were sent.
using ElementValues = std::vector<std::pair<std::string, std::string>>;

struct MasterRecord {
  std::int64_t id = 0;
  std::string name;
  std::string parent;
  ElementValues values;
  bool predefined = false;  // one the server holds in every company from the start
};

// One line of a voucher. `kind` is "ledger", "inventory", "allocation" (an accounting allocation
// of the inventory line before it) or "batch" (a batch allocation of that line, `name` its
// godown).
struct EntryRecord {
  std::string kind;
  std::string name;  // ledger, stock item or godown, as sent
  std::int64_t master_id = 0;
  std::string amount;  // as sent
  std::string deemed_positive;
  std::string actual_qty;
  std::string billed_qty;
  std::string rate;
  // Batch allocations only.
  std::string batch_name;
  std::string order_no;
  std::string tracking_no;
  std::string due_date;
};

struct VoucherRecord {
  std::int64_t id = 0;
  std::string remote_id;
  std::string guid;
  std::string date;  // YYYYMMDD
  std::string type;
  std::string number;
  std::string reference;
  std::string party;
  std::string narration;
  std::vector<EntryRecord> entries;
};

// Which vouchers an export reads: dates YYYYMMDD, both ends included (empty: unbounded); the
// voucher type compared case-insensitively (empty: every type).
struct VoucherFilter {
  std::string from;
  std::string to;
  std::string type;
};

class Store {
 public:
  // Opens or creates the store at `path`; an empty path keeps it in memory. A file is put in WAL
  // mode with full synchronisation, so a committed request survives a crash and other processes
  // can read while the server writes. Throws StoreError (for instance when the file is not a
  // store of this server).
  explicit Store(const std::string& path);

  // A write transaction: BEGIN IMMEDIATE on construction, rolled back when destroyed without
  // Commit. The master ids cached inside it are forgotten when it begins and when it ends.
  class Transaction {
   public:
    explicit Transaction(Store& store);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    void Commit();

   private:
    Store& store_;
    sqlite::Transaction transaction_;
  };

  // One item of a request inside a transaction, so that a rejected item leaves no trace: an item
  // is refused before it writes; one destroyed without Release after writing makes the
  // transaction refuse to commit.
  class Savepoint {
   public:
    explicit Savepoint(Store& store);
    ~Savepoint();
    Savepoint(const Savepoint&) = delete;
    Savepoint& operator=(const Savepoint&) = delete;
    void Release();

   private:
    Store& store_;
    bool done_ = false;
  };

  // The id of the company `name` (compared case-insensitively), adding it when missing.
  std::int64_t EnsureCompany(std::string_view name);

  std::optional<MasterRecord> FindMaster(std::int64_t company, std::string_view kind,
                                         std::string_view name);
  // The id alone, for checking that a voucher's ledgers and stock items exist.
  std::optional<std::int64_t> MasterId(std::int64_t company, std::string_view kind,
                                       std::string_view name);
  // Adds `master` (with its `predefined` flag) and returns its id.
  std::int64_t AddMaster(std::int64_t company, std::string_view kind, const MasterRecord& master);
  void ChangeMaster(const MasterRecord& master);
  void RemoveMaster(std::int64_t id);
  // How many voucher lines refer to the master.
  std::int64_t VoucherUses(std::int64_t master_id);
  // Masters of one kind in the order they were first created, at most `limit`.
  std::vector<MasterRecord> Masters(std::int64_t company, std::string_view kind,
                                    std::int64_t limit);
  std::int64_t CountMasters(std::int64_t company, std::string_view kind);

  std::optional<std::int64_t> FindVoucher(std::int64_t company, std::string_view remote_id);
  std::int64_t AddVoucher(std::int64_t company, const VoucherRecord& voucher);
  void ReplaceVoucher(const VoucherRecord& voucher);
  void RemoveVoucher(std::int64_t id);
  // Vouchers in the order they were stored, at most `limit`, with their entries.
  std::vector<VoucherRecord> Vouchers(std::int64_t company, std::int64_t limit);
  std::int64_t CountVouchers(std::int64_t company);
  // Calls `visit` for each voucher `filter` selects, with its entries, in date order (then in
  // the order stored), holding one voucher in memory at a time. `visit` must not use the store.
  void ForEachVoucher(std::int64_t company, const VoucherFilter& filter,
                      const std::function<void(const VoucherRecord&)>& visit);

 private:
  void Upgrade(std::int64_t version);
  ElementValues ValuesOf(std::int64_t master_id);
  void WriteValues(std::int64_t master_id, const ElementValues& values);
  void WriteVoucher(Statement& statement, std::int64_t key, const VoucherRecord& voucher);
  void WriteEntries(std::int64_t voucher_id, const std::vector<EntryRecord>& entries);
  // Up to kRowsPerInsert lines of a voucher, or values of a master, go in one INSERT: one
  // statement per voucher or master costs less than one per row.
  static constexpr std::size_t kRowsPerInsert = 8;
  using Inserts = std::array<std::string, kRowsPerInsert>;  // the INSERT for 1, 2, ... rows
  // Writes `rows` into `table`, whose columns `row` are its key, the position and the row's own,
  // under `key` and numbered from 1, with the statements kept in `inserts`;
  // `bind(insert, at, row)` binds a row's own columns from `at` on.
  template <class Row, class BindRow>
  void InsertRows(Inserts& inserts, std::string_view table, std::string_view row, std::int64_t key,
                  const std::vector<Row>& rows, BindRow bind);

  Database db_;
  // Master ids found by MasterId during the current transaction, by company, kind and folded
  // name. Only found ids are kept; the map is emptied when a transaction begins or ends, when a
  // savepoint is rolled back and when a master is renamed or removed, so it never outlives what
  // it describes.
  std::unordered_map<std::string, std::int64_t> master_ids_;
  std::string master_key_;  // reused for each lookup
  Inserts entry_inserts_;
  Inserts value_inserts_;
  bool item_wrote_ = false;  // the current item has changed the store
  bool item_undone_after_write_ = false;
};

}  // namespace lirvo::standin
