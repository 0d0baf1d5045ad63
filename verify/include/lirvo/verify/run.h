// One verification run: the table read once into the spool and the masters the rows need noted
// (verify.cpp), the books' masters checked (verify.cpp), the books' vouchers read back range by
// range and compared (verify_ranges.cpp), the findings handed out (verify.cpp).
#pragma once

#include <array>
#include <functional>
#include <future>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <lirvo/verify.h>

#include <lirvo/verify/spool.h>

namespace lirvo::verify {

// A date range, YYYYMMDD, both ends included.
struct Range {
  std::string from, to;
};

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
            const std::string& voucher_id, bool in_range);
  const std::vector<Need>& all() const { return all_; }

 private:
  std::unordered_map<std::string, std::size_t> seen_;
  std::vector<Need> all_;
  std::string key_;  // reused, so that noting a name met before allocates nothing
};

using BooksMasters = std::array<std::vector<books::BooksMaster>, 3>;  // units, ledgers, stock items

// How the table is scanned: the one pass over the source rows that the verification and the sync
// share (normalise, check, note the masters needed, refuse a second row with a VoucherID).
struct Scan {
  long row_limit = 0;  // only the first rows of the table (0: all)
  // A further check of the sync's (text the server would lose), after the local checks.
  std::function<std::optional<std::string>(const books::SalesRow&)> check;
  bool read_masters = true;  // read the books' masters beside the table (the verification)
  // When set, each accepted row is handed here as it is read, and not kept for a comparison
  // (the sync that takes the journal's word); the masters are noted, and the row kept for
  // sending, only of the rows for which it returns true (those still to be sent: the others'
  // masters are in the books on that word).
  std::function<bool(const CheckedRow&)> each;
};

class Run {
 public:
  // Starts reading the books' masters, which goes on while the table is read.
  Run(const VerifyOptions& options, VerifySummary& summary, Scan scan = {});

  void Load();
  void Masters();
  void Compare();
  void Emit();

  // What the scan found, for the sync: the masters the accepted rows need, the rows refused by
  // the checks (kNotExpected findings), and each accepted row in row order with what the
  // comparison found (nothing when the books hold it as the source has it, or Compare did not
  // run).
  const Needs& units() const { return units_; }
  const Needs& ledgers() const { return ledgers_; }
  const Needs& items() const { return items_; }
  void ForEachRefused(const std::function<void(const Finding&)>& each);
  void ForEachChecked(const std::function<void(const CheckedRow&)>& each);
  // The sync's rows to send, noted as they are decided and read back in row order (see Spool).
  void ToSend(long number) { spool_.ToSend(number); }
  std::vector<SpooledRow> ToSendAfter(long after, int limit) {
    return spool_.ToSendAfter(after, limit);
  }

 private:
  void Show(SyncPhase phase, long done, long total) {
    if (options_.progress) {
      options_.progress({phase, done, total});
    }
  }
  void Find(long row, const std::string& voucher_id, Outcome outcome, std::string_view field,
            std::string_view source, std::string_view books) {
    spool_.AddFinding(row, voucher_id, outcome, field, source, books);
  }
  // The reply `fetched` brings for `range`, or nothing when it is too large and `range` can be
  // split. Throws Failure naming the range.
  std::optional<modTally::Reply> Receive(const Range& range, std::future<modTally::Reply>& fetched);
  // Fetches and compares `range`, in halves when its reply is too large.
  void CompareRange(const Range& range);
  void CompareHalves(const Range& range);
  void CompareReply(const Range& range, const modTally::Reply& reply);
  std::string What(const Range& range) const;
  std::future<modTally::Reply> Fetch(const Range& range);
  // A books voucher of `range` that no row of the range took.
  void Judge(const Range& range, const books::BooksVoucher& voucher);

  const VerifyOptions& options_;
  VerifySummary& summary_;
  const Scan scan_;
  Spool spool_;
  long compared_ = 0;
  long to_compare_ = 0;
  Needs units_, ledgers_, items_;
  std::future<BooksMasters> masters_;
};

}  // namespace lirvo::verify
