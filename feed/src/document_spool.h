// The spool of a source's documents that the documents feed walks: Vouchers and VoucherLines
// copied to a private temporary SQLite file, kept in the order they are walked.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <lirvo/books/document.h>
#include <lirvo/modTally.h>
#include <lirvo/source.h>
#include <lirvo/source_layout.h>
#include <lirvo/sqlite.h>

namespace lirvo::feed {

using books::Document;
using books::DocumentType;

inline std::size_t TypeIndex(DocumentType type) {
  return static_cast<std::size_t>(type);
}

// The type a VoucherType names: the server's name, the --kinds name or the dialog's label.
inline std::optional<DocumentType> TypeOf(std::string_view text) {
  if (const source::Kind* kind = source::KindOfVoucherType(text); kind && kind->document()) {
    return books::TypeOfServerName(kind->voucher_type);
  }
  return std::nullopt;
}

inline constexpr std::array<const char*, 9> kLineColumns = {
    "VoucherID", "Line", "Ledger", "Item", "Godown", "Quantity", "Unit", "Rate", "Amount"};
inline constexpr std::array<const char*, 7> kVoucherColumns = {
    "VoucherID", "VoucherType", "Date", "Number", "Reference", "Party", "Narration"};

// Where each of `columns` is in `rows`.
template <std::size_t N>
std::array<std::optional<std::size_t>, N> Positions(const source::Rows& rows,
                                                    const std::array<const char*, N>& columns) {
  std::array<std::optional<std::size_t>, N> at;
  for (std::size_t i = 0; i < N; ++i) {
    at[i] = rows.Find(columns[i]);
  }
  return at;
}

inline const std::string& ValueAt(const source::Rows& rows, const std::optional<std::size_t>& at) {
  static const std::string kNone;
  return at && rows.Values()[*at] ? *rows.Values()[*at] : kNone;
}

// A document of the source with its lines, and its row in Vouchers.
struct SpooledDocument {
  Document document;
  long row;
};

// The source's documents spooled to a private temporary file: every row of VoucherLines, kept in
// the order of their VoucherID and Line, and the rows of Vouchers of the types being fed, kept in
// the order of their type and the day each is dated ("" when its date is not one). The feed then
// walks one type and a range of days at a time, each voucher finding its own lines whatever order
// the tables hold them in, and memory does not grow with the source. Both tables are clustered on
// the order they are read in (WITHOUT ROWID), so that a voucher's lines are one short scan; when
// the source is in the usual order (documents numbered as they are dated, lines after their
// voucher), the spool is written and read nearly in sequence.
class Spool {
 public:
  Spool() : db_("", Options()) {
    db_.Execute(
        "PRAGMA page_size=16384; PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF;"
        "PRAGMA temp_store=FILE; PRAGMA cache_size=-8192;"
        "CREATE TABLE lines(voucher_id TEXT, n INTEGER, seq INTEGER, line TEXT, ledger TEXT,"
        " item TEXT, godown TEXT, quantity TEXT, unit TEXT, rate TEXT, amount TEXT,"
        " PRIMARY KEY(voucher_id, n, seq)) WITHOUT ROWID;"
        "CREATE TABLE vouchers(type INTEGER, day TEXT, row INTEGER, voucher_id TEXT, date TEXT,"
        " number TEXT, reference TEXT, party TEXT, narration TEXT,"
        " PRIMARY KEY(type, day, row)) WITHOUT ROWID;"
        "CREATE TABLE ids(id TEXT PRIMARY KEY) WITHOUT ROWID");
  }

  void AddLines(source::Rows& rows) {
    const auto at = Positions(rows, kLineColumns);
    sqlite::Transaction loading(db_);
    sqlite::Statement insert = db_.Prepare(
        "INSERT INTO lines VALUES(?1, CAST(?3 AS INTEGER), ?2, ?3, ?4, ?5, ?6, ?7, ?8,"
        " ?9, ?10)");
    while (rows.Next()) {
      insert.BindUncopied(1, ValueAt(rows, at[0])).Bind(2, rows.RowNumber());
      for (std::size_t i = 1; i < kLineColumns.size(); ++i) {
        insert.BindUncopied(static_cast<int>(i) + 2, ValueAt(rows, at[i]));
      }
      insert.Run();
    }
    loading.Commit();
  }

  // Spools the Vouchers rows for which `take(rows, id, voucher type, date, type)` holds; those of
  // no type are given to it too, with no type. With `note_ids`, every row's VoucherID is noted
  // for EachOrphan, whether spooled or not.
  template <class Take>
  void AddVouchers(source::Rows& rows, bool note_ids, Take take) {
    const auto at = Positions(rows, kVoucherColumns);
    sqlite::Transaction loading(db_);
    sqlite::Statement insert =
        db_.Prepare("INSERT INTO vouchers VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)");
    sqlite::Statement note = db_.Prepare("INSERT OR IGNORE INTO ids VALUES(?1)");
    while (rows.Next()) {
      if (note_ids) {
        note.BindUncopied(1, ValueAt(rows, at[0])).Run();
      }
      const std::optional<DocumentType> type = TypeOf(ValueAt(rows, at[1]));
      if (!take(rows, ValueAt(rows, at[0]), ValueAt(rows, at[1]), ValueAt(rows, at[2]), type)) {
        continue;
      }
      const std::optional<std::string> day = books::SourceDate(ValueAt(rows, at[2]));
      insert.Bind(1, static_cast<std::int64_t>(TypeIndex(*type))).Bind(2, day.value_or(""));
      insert.Bind(3, rows.RowNumber()).BindUncopied(4, ValueAt(rows, at[0]));
      for (std::size_t i = 2; i < kVoucherColumns.size(); ++i) {
        insert.BindUncopied(static_cast<int>(i) + 3, ValueAt(rows, at[i]));
      }
      insert.Run();
    }
    loading.Commit();
  }

  // Calls `each(row, voucher_id)` for every line of VoucherLines, in the table's order, whose
  // VoucherID was not noted by AddVouchers.
  template <class Each>
  void EachOrphan(Each each) {
    sqlite::Statement query = db_.Prepare(
        "SELECT seq, voucher_id FROM lines WHERE voucher_id NOT IN (SELECT id FROM ids)"
        " ORDER BY seq");
    while (query.Step()) {
      each(static_cast<long>(query.Int(0)), query.Text(1));
    }
  }

  // The days on which documents of `type` are dated, in order, each with how many.
  template <class Each>
  void ForEachDay(DocumentType type, Each each) {
    sqlite::Statement query = db_.Prepare(
        "SELECT day, count(*) FROM vouchers WHERE type = ?1 AND day > '' GROUP BY day"
        " ORDER BY day");
    query.Bind(1, static_cast<std::int64_t>(TypeIndex(type)));
    while (query.Step()) {
      each(query.Text(0), query.Int(1));
    }
  }

  // The documents of `type` dated from `from` to `to`, or (with no range) those whose date is
  // none, by day and row, each with its lines, until `each` returns false. One query joins each
  // voucher to its lines, so that a voucher costs no statement of its own.
  template <class Each>
  bool ForEachDocument(DocumentType type,
                       const std::optional<std::pair<std::string, std::string>>& range, Each each) {
    // Prepared once and kept (a range's documents take a few milliseconds; preparing the join
    // for each of them cost a fiftieth of the feed).
    sqlite::Statement& query = db_.Query(
        std::string("SELECT v.row, v.voucher_id, v.date, v.number, v.reference, v.party,"
                    " v.narration, l.n, l.seq, l.line, l.ledger, l.item, l.godown, l.quantity,"
                    " l.unit, l.rate, l.amount FROM vouchers v LEFT JOIN lines l"
                    " ON l.voucher_id = v.voucher_id WHERE v.type = ?1 AND ") +
        (range ? "v.day BETWEEN ?2 AND ?3" : "v.day = ''") + " ORDER BY v.day, v.row");
    query.Bind(1, static_cast<std::int64_t>(TypeIndex(type)));
    if (range) {
      query.Bind(2, range->first).Bind(3, range->second);
    }
    std::optional<SpooledDocument> read;
    std::vector<std::pair<std::int64_t, std::int64_t>> order;  // each line's (n, seq)
    const auto give = [&] {
      InLineOrder(read->document.lines, order);
      return each(std::move(*read));
    };
    while (query.Step()) {
      const long row = static_cast<long>(query.Int(0));
      if (!read || read->row != row) {
        if (read && !give()) {
          return false;
        }
        read = SpooledDocument{{query.Text(1),
                                type,
                                query.Text(2),
                                query.Text(3),
                                query.Text(4),
                                query.Text(5),
                                query.Text(6),
                                {}},
                               row};
        order.clear();
      }
      if (query.OptionalText(8)) {  // a line, not the NULLs of a voucher without any
        order.emplace_back(query.Int(7), query.Int(8));
        read->document.lines.push_back({query.Text(9), query.Text(10), query.Text(11),
                                        query.Text(12), query.Text(13), query.Text(14),
                                        query.Text(15), query.Text(16)});
      }
    }
    return !read || give();
  }

 private:
  // Puts `lines` in the order of their Line numbers, then of their rows (`order` gives each
  // line's); the join usually gives them so already.
  static void InLineOrder(std::vector<books::Line>& lines,
                          std::vector<std::pair<std::int64_t, std::int64_t>>& order) {
    if (std::is_sorted(order.begin(), order.end())) {
      return;
    }
    std::vector<std::size_t> index(lines.size());
    for (std::size_t i = 0; i < index.size(); ++i) {
      index[i] = i;
    }
    std::sort(index.begin(), index.end(),
              [&order](std::size_t a, std::size_t b) { return order[a] < order[b]; });
    std::vector<books::Line> sorted;
    sorted.reserve(lines.size());
    for (const std::size_t i : index) {
      sorted.push_back(std::move(lines[i]));
    }
    lines = std::move(sorted);
  }

  static sqlite::OpenOptions Options() {
    sqlite::OpenOptions options;
    options.name = "the temporary file of the source's vouchers";
    options.raise = [](const std::string& message) {
      throw modTally::Failure(modTally::FailureNumber::kFile, message);
    };
    return options;
  }

  sqlite::Database db_;
};

}  // namespace lirvo::feed
