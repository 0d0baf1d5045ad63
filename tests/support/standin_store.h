// Reads the store that tally-standin keeps in its --data file, for end-to-end tests: which
// companies, masters and vouchers arrived. Opens the file read-only, so it can read while the
// server runs (the server keeps the file in WAL mode) and after it has stopped or been killed.
//
// Kinds are the master element names: "UNIT", "LEDGER", "STOCKITEM", "GODOWN", "GROUP",
// "STOCKGROUP". Company names compare case-insensitively (ASCII), as in the server. Every
// function throws std::runtime_error naming the file when the store cannot be read.
//
// Example:
//   lirvo::test::StandinStore store(data_file);
//   EXPECT_EQ(store.Masters("Demo Trading Co", "LEDGER"), (std::vector<std::string>{"Cash"}));
//   const auto vouchers = store.Vouchers("Demo Trading Co");
//   EXPECT_EQ(vouchers.at(0).entries.at(0).amount, "-1040");
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

struct sqlite3;

namespace lirvo::test {

// One line of a stored voucher, in the order it was sent.
struct StoredEntry {
  // "ledger" (a LEDGERENTRIES.LIST or ALLLEDGERENTRIES.LIST), "inventory" (an
  // ALLINVENTORYENTRIES.LIST or INVENTORYENTRIES.LIST), or "allocation" (an
  // ACCOUNTINGALLOCATIONS.LIST of the inventory line before it).
  std::string kind;
  std::string name;        // LEDGERNAME or STOCKITEMNAME, as sent
  std::string amount;      // AMOUNT, exactly as sent
  std::string actual_qty;  // inventory lines: ACTUALQTY as sent, e.g. " 3 Nos"
  std::string rate;        // inventory lines: RATE as sent, e.g. " 50/Nos"
};

struct StoredVoucher {
  std::string remote_id;  // REMOTEID attribute
  std::string guid;       // GUID
  std::string date;       // DATE, YYYYMMDD
  std::string type;       // VCHTYPE attribute (or VOUCHERTYPENAME)
  std::string reference;  // REFERENCE
  std::string party;      // PARTYLEDGERNAME
  std::vector<StoredEntry> entries;
};

struct StoredMaster {
  std::string name;
  std::string parent;  // PARENT, "" when never sent
  // Every non-empty leaf below the master element as (path, text), e.g.
  // ("NAME.LIST/NAME", "Cash"), ("ISBILLWISEON", "Yes").
  std::vector<std::pair<std::string, std::string>> values;

  // The first value at `path`, or no value.
  std::optional<std::string> Value(const std::string& path) const;
};

class StandinStore {
 public:
  // Opens `path` read-only. Throws std::runtime_error when it is missing or not a store.
  explicit StandinStore(const std::string& path);
  ~StandinStore();
  StandinStore(const StandinStore&) = delete;
  StandinStore& operator=(const StandinStore&) = delete;

  // Every company the store has ever had open, in the order first opened.
  std::vector<std::string> Companies() const;
  // Names of the masters of `kind` in `company`, in the order they were first created.
  std::vector<std::string> Masters(const std::string& company, const std::string& kind) const;
  // One master with its parent and values; no value when it does not exist.
  std::optional<StoredMaster> Master(const std::string& company, const std::string& kind,
                                     const std::string& name) const;
  // Vouchers of `company` in the order they were first stored, with their entries.
  std::vector<StoredVoucher> Vouchers(const std::string& company) const;

  // Counts; kind "" counts masters of every kind.
  long long CountMasters(const std::string& company, const std::string& kind = "") const;
  long long CountVouchers(const std::string& company) const;

 private:
  using Row = std::vector<std::string>;
  // Every row of `sql` with `parameters` bound in order, each column as text ("" for null).
  std::vector<Row> Rows(const char* sql, const Row& parameters = {}) const;

  struct Close {
    void operator()(sqlite3* db) const;
  };
  std::string path_;
  std::unique_ptr<sqlite3, Close> db_;
};

}  // namespace lirvo::test
