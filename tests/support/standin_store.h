// Reads the store tally-standin keeps in its --data file, read-only, so that end-to-end tests can
// see what arrived while the server runs (WAL mode) or after it was stopped or killed. Kinds are
// the master element names ("UNIT", "LEDGER", "STOCKITEM", ...); company and master names compare
// case-insensitively, as in the server. Every function throws lirvo::sqlite::Error (a
// std::runtime_error) naming the file when the store cannot be read.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <lirvo/sqlite.h>

namespace lirvo::test {

// One line of a stored voucher, in the order sent: kind "ledger", "inventory" or "allocation"
// (of the inventory line before it); the values as sent. Batch allocations are left out.
struct StoredEntry {
  std::string kind, name, amount, actual_qty, rate;
};

struct StoredVoucher {
  std::string remote_id, guid, date, type, reference, party;
  std::vector<StoredEntry> entries;
};

struct StoredMaster {
  std::string name;
  std::string parent;  // "" when never sent
  // Every non-empty leaf below the master element as (path, text), e.g. ("ISBILLWISEON", "Yes").
  std::vector<std::pair<std::string, std::string>> values;

  // The first value at `path`, or no value.
  std::optional<std::string> Value(const std::string& path) const;
};

class StandinStore {
 public:
  explicit StandinStore(const std::string& path);

  // Every company the store has had open, in the order first opened.
  std::vector<std::string> Companies() const;
  // Names of the masters of `kind` in `company`, in the order created. Here and in CountMasters,
  // the masters every company holds from the start ("Cash", the 28 groups, ...) are left out.
  std::vector<std::string> Masters(const std::string& company, const std::string& kind) const;
  std::optional<StoredMaster> Master(const std::string& company, const std::string& kind,
                                     const std::string& name) const;
  // In the order first stored.
  std::vector<StoredVoucher> Vouchers(const std::string& company) const;
  // Kind "" counts masters of every kind.
  long long CountMasters(const std::string& company, const std::string& kind = "") const;
  long long CountVouchers(const std::string& company) const;

 private:
  using Row = std::vector<std::string>;
  // Every row of `sql` with `parameters` bound in order, each column as text.
  std::vector<Row> Rows(const std::string& sql, const Row& parameters = {}) const;

  sqlite::Database db_;
};

}  // namespace lirvo::test
