// The verification's spool: a private temporary SQLite database on disk (SQLite deletes it when
// the connection closes) that holds the table's rows, indexed by date, and the findings until they
// are handed out in row order. Pages beyond its small cache go to the file, so memory stays flat
// whatever the table's size. Every failure throws modTally::Failure (kFile).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <lirvo/sqlite.h>
#include <lirvo/verify.h>

namespace lirvo::verify {

// A row of the table as the spool holds it.
struct SpooledRow {
  long number = 0;  // the row number in the table
  books::SalesRow row;
  std::optional<std::string> rejected;  // why the local checks refuse it
  std::string digest;                   // of its message, once the sync has built it
};

// An accepted row and what the comparison with the books found for it.
struct CheckedRow {
  long number = 0;
  books::SalesRow row;
  bool missing = false;                      // the books lack its voucher
  std::vector<FieldDifference> differences;  // the books hold it otherwise
};

class Spool {
 public:
  Spool();

  // A transaction over the spool; rolls back unless committed.
  sqlite::Transaction Begin() { return sqlite::Transaction(db_); }

  // Loading the table, row by row in one transaction, then IndexDates before it commits.
  void AddRow(long number, const books::SalesRow& row, const std::optional<std::string>& rejected);
  // Only the row's number and VoucherID, of a row the local checks accept.
  void AddKey(long number, const std::string& voucher_id);
  // The first row with `voucher_id` that the local checks accept.
  std::optional<long> FirstAccepted(const std::string& voucher_id);
  void IndexDates();

  // The first and last date of the accepted rows; "" when there are none.
  std::pair<std::string, std::string> Span();
  // Per date from `from` to `to`, in date order, how many accepted rows it has.
  void ForEachDate(const std::string& from, const std::string& to,
                   const std::function<void(const std::string& date, long rows)>& each);
  // The accepted rows dated `from` to `to`, in the order of the date index (the findings are
  // handed out in row order at the end).
  void ForEachRow(const std::string& from, const std::string& to,
                  const std::function<void(long number, const books::SalesRow& row)>& each);
  // The row with `voucher_id`: the first accepted one, else the first refused one.
  std::optional<SpooledRow> ById(const std::string& voucher_id);

  void AddFinding(long row, const std::string& voucher_id, Outcome outcome, std::string_view field,
                  std::string_view source, std::string_view books);
  // Notes every accepted row dated `from` to `to` as missing in the books, described as
  // DescribeRow does; how many there were. The ranges must not overlap. Their findings are
  // written only when read as findings (counted, handed out or settled): the sync asks only
  // whether each row is missing, which the ranges tell.
  long AddMissing(const std::string& from, const std::string& to);
  // Notes that the books hold `voucher_id` (of row `row`) dated `date`, outside its row's range;
  // false when it was noted before.
  bool NoteElsewhere(const std::string& voucher_id, long row, const std::string& date);
  void AddElsewhereField(const std::string& voucher_id, const FieldDifference& difference);
  // Settles the vouchers noted elsewhere once every range is compared: a row missing in its own
  // range differs (in its date at least); a row that was there has a second voucher.
  void SettleElsewhere();

  // The accepted rows in row order with their findings.
  void ForEachChecked(const std::function<void(const CheckedRow&)>& each);

  // The sync's rows to send: each noted by its number, then read back in row order, up to `limit`
  // after row `after` (their messages are built when sent).
  void ToSend(long number);
  std::vector<SpooledRow> ToSendAfter(long after, int limit);

  long CountFindings(Outcome outcome);
  // Rows with at least one finding of `outcome`.
  long CountRows(Outcome outcome);
  // Every finding in row order, books vouchers the source does not hold last; with `only`, those
  // of that outcome.
  void ForEachFinding(const std::function<void(const Finding&)>& each,
                      std::optional<Outcome> only = std::nullopt);

 private:
  long Count(std::string_view sql, Outcome outcome);
  bool InMissingRange(const std::string& date) const;
  // Writes the findings of the ranges noted by AddMissing.
  void WriteMissing();
  // Indexes the rows by VoucherID when first looked up so: most runs never do, and the index
  // would cost nearly as much as the row to keep up.
  void IndexIds();
  // The filter of the accepted VoucherIDs, which spares FirstAccepted its query for an ID seen
  // for the first time, as nearly every one is.
  void NoteAccepted(std::string_view voucher_id);
  bool MaybeAccepted(std::string_view voucher_id) const;

  sqlite::Database db_;
  // A Bloom filter of fixed size (1 MiB, two bits per ID): it says "maybe" for every ID noted
  // and for a few others, so memory stays flat whatever the table's size; a "maybe" is settled by
  // the query.
  std::vector<std::uint64_t> accepted_filter_ = std::vector<std::uint64_t>(std::size_t{1} << 17);
  // The rows to send, a bit each by row number: an eighth of a byte a row, where a table of them
  // cost a B-tree insert a row and a join to read back.
  std::vector<bool> to_send_;
  bool indexed_by_id_ = false;
  std::vector<std::pair<std::string, std::string>> missing_ranges_;  // not yet written
};

}  // namespace lirvo::verify
