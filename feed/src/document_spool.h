// The spool of a source's documents that the documents feed walks: Vouchers and VoucherLines
// copied to private temporary files, kept in the order they are walked, each voucher's lines
// packed as line_runs.h packs them. Long (a little over 400 lines): one class, whose tables
// and the statements that write and read them are best read side by side.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <map>
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
#include <lirvo/text.h>

#include "line_runs.h"
#include "sorted_file.h"

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

// A document of the source with its lines, and its row in Vouchers; what its check found, once
// it passed.
struct SpooledDocument {
  Document document;
  long row;
  books::CheckedDocument checked{};
};

// The source's documents spooled to a private temporary file: the rows of VoucherLines, and the
// rows of Vouchers of the types being fed with their lines, kept in the order of their type, the
// day each is dated (none when its date is not one) and their row. The feed then walks one type
// and a range of days at a time, each voucher with its own lines whatever order the tables hold
// them in, and memory does not grow with the source.
//
// What costs is SQLite's work for each row written and read, and above all for each look-up by
// VoucherID, so the spool keeps few rows and looks up as little as it can:
// - the lines of a voucher that follow one another in VoucherLines (as a rule all of them) are one
//   row of `runs`, their values packed into one BLOB, under the row of the first;
// - a voucher is one record of a SortedFile, its values and lines packed, under an integer key
//   made of its type, day and row, so that a range of days is one sequential read, and writing
//   it costs little more than its bytes (a table of SQLite's spent several times that on each);
// - when both tables are in the order of their VoucherIDs (as sources are when documents are
//   numbered as they are dated and lines follow their voucher), each voucher finds its lines by
//   reading them alongside, in step: from VoucherLines itself when the source reads two tables at
//   once (AddAlongside: `runs` stays empty), else from `runs`; otherwise `runs` is indexed by
//   VoucherID and each voucher looks its lines up.
class Spool {
 public:
  Spool() : db_("", Options()) {
    db_.Execute(
        "PRAGMA page_size=16384; PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF;"
        "PRAGMA temp_store=FILE; PRAGMA cache_size=-8192;"
        "CREATE TABLE runs(seq INTEGER PRIMARY KEY, voucher_id TEXT, count INTEGER, lines BLOB);"
        "CREATE TABLE ids(id TEXT PRIMARY KEY, row INTEGER) WITHOUT ROWID;"
        "CREATE TABLE repeated(row INTEGER PRIMARY KEY, voucher_id TEXT, first INTEGER,"
        " type INTEGER);"
        "CREATE TABLE orphans(seq INTEGER PRIMARY KEY, voucher_id TEXT, count INTEGER);"
        "CREATE TABLE unknown(row INTEGER PRIMARY KEY, voucher_id TEXT, voucher_type TEXT)");
  }

  void AddLines(source::Rows& rows) {
    const auto at = Positions(rows, kLineColumns);
    sqlite::Transaction loading(db_);
    sqlite::Statement insert = db_.Prepare("INSERT INTO runs VALUES(?1, ?2, ?3, ?4)");
    // The run being gathered: the lines of one VoucherID in consecutive rows, from row `first`.
    std::string id;
    std::int64_t first = 0;
    std::int64_t count = 0;
    std::string packed;
    const auto write = [&] {
      if (count > 0) {
        insert.Bind(1, first).BindUncopied(2, id).Bind(3, count).BindUncopiedBlob(4, packed).Run();
      }
      count = 0;
      packed.clear();
    };
    while (rows.Next()) {
      const std::string& voucher_id = ValueAt(rows, at[0]);
      // A run stays small whatever a voucher's size: a long one is cut into several.
      if (count == 0 || voucher_id != id || packed.size() >= kRunBytes) {
        in_step_ = in_step_ && (count == 0 || id <= voucher_id);
        write();
        id = voucher_id;
        first = rows.RowNumber();
      }
      PackLine(packed, rows, at);
      ++count;
    }
    write();
    loading.Commit();
    if (!in_step_) {
      IndexRuns();
    }
  }

  // Spools the Vouchers rows for which `take(rows, id, voucher type, date, type)` holds; those of
  // no type are given to it too, with no type. A row taken whose VoucherID an earlier row has,
  // taken or not, is noted for EachRepeated instead. With `note_ids`, every row's VoucherID counts
  // for EachOrphan, whether spooled or not, and the rows of no type are noted for EachUnknown.
  // False when the rows turned out not to be in the order of their VoucherIDs although the lines
  // are: nothing of them is kept, and the caller calls IndexRuns and gives them again from the
  // first.
  template <class Take>
  bool AddVouchers(source::Rows& rows, bool note_ids, Take take) {
    if (!in_step_) {
      return Add<SpooledRuns>(rows, nullptr, note_ids, take);
    }
    SpooledRuns runs(db_);
    return Add(rows, &runs, note_ids, take);
  }

  // The same with the lines read alongside from VoucherLines (`lines`), for a source that reads
  // two tables at once: when both tables are in the order of their VoucherIDs, as they are as a
  // rule, the lines are never spooled apart. False when either turns out not to be: nothing of
  // them is kept, and the caller spools the lines first (AddLines, then AddVouchers).
  template <class Take>
  bool AddAlongside(source::Rows& rows, source::Rows& lines, bool note_ids, Take take) {
    SourceRuns runs(lines);
    if (Add(rows, &runs, note_ids, take)) {
      return true;
    }
    in_step_ = true;  // whether the lines are is for AddLines to find out
    return false;
  }

  // Lets each voucher look its lines up by VoucherID, for rows that are not in step with them.
  void IndexRuns() {
    db_.Execute("CREATE INDEX IF NOT EXISTS runs_by_id ON runs(voucher_id, seq)");
  }

  // Calls `each(row, voucher_id, voucher_type)` for every row of Vouchers of no type, in the
  // table's order, as noted by AddVouchers.
  template <class Each>
  void EachUnknown(Each each) {
    sqlite::Statement query = db_.Prepare("SELECT row, voucher_id, voucher_type FROM unknown");
    while (query.Step()) {
      each(static_cast<long>(query.Int(0)), query.Text(1), query.Text(2));
    }
  }

  // Calls `each(row, voucher_id, first, type)` for every row of Vouchers taken whose VoucherID an
  // earlier row (`first`) has: a VoucherID names one voucher, and its lines are the first's.
  template <class Each>
  void EachRepeated(Each each) {
    sqlite::Statement query = db_.Prepare("SELECT row, voucher_id, first, type FROM repeated");
    while (query.Step()) {
      each(static_cast<long>(query.Int(0)), query.Text(1), static_cast<long>(query.Int(2)),
           books::kDocumentTypes[static_cast<std::size_t>(query.Int(3))]);
    }
  }

  // Calls `each(row, voucher_id)` for every line of VoucherLines, in the table's order, whose
  // VoucherID no row of Vouchers has (noted by AddVouchers).
  template <class Each>
  void EachOrphan(Each each) {
    sqlite::Statement query =
        db_.Prepare(in_step_ ? "SELECT seq, count, voucher_id FROM orphans ORDER BY seq"
                             : "SELECT seq, count, voucher_id FROM runs WHERE voucher_id NOT IN"
                               " (SELECT id FROM ids) ORDER BY seq");
    while (query.Step()) {
      const std::string voucher_id = query.Text(2);
      for (std::int64_t i = 0; i < query.Int(1); ++i) {
        each(static_cast<long>(query.Int(0) + i), voucher_id);
      }
    }
  }

  // The days on which documents of `type` are dated, in order, each with how many.
  template <class Each>
  void ForEachDay(DocumentType type, Each each) {
    const std::size_t of = TypeIndex(type);
    for (auto at = days_.lower_bound({of, 1}); at != days_.end() && at->first.first == of; ++at) {
      each(DayText(at->first.second), at->second);
    }
  }

  // The documents of `type` dated from `from` to `to`, or (with no range) those whose date is
  // none, by day and row, each with its lines, until `each` returns false.
  template <class Each>
  bool ForEachDocument(DocumentType type,
                       const std::optional<std::pair<std::string, std::string>>& range, Each each) {
    vouchers_.Seek(Key(type, range ? DayNumber(range->first) : 0, 0));
    const std::int64_t last = Key(type, range ? DayNumber(range->second) : 0, kRows - 1);
    std::vector<std::pair<std::int64_t, std::int64_t>> order;  // each line's (Line, row)
    while (const auto next = vouchers_.Next(last)) {
      std::string_view packed = next->second;
      // The values in the order Add packed them (a braced list is evaluated in its order).
      SpooledDocument read{{std::string(Unpack(packed)),
                            type,
                            std::string(Unpack(packed)),
                            std::string(Unpack(packed)),
                            std::string(Unpack(packed)),
                            std::string(Unpack(packed)),
                            std::string(Unpack(packed)),
                            {}},
                           static_cast<long>(next->first % kRows)};
      order.clear();
      UnpackLines(packed, read.document.lines, order);
      InLineOrder(read.document.lines, order);
      if (!each(std::move(read))) {
        return false;
      }
    }
    return true;
  }

 private:
  // AddVouchers' pass over Vouchers, each row matched with its lines: in step with `runs`, or
  // without them (in_step_ false) looked up by VoucherID among the spooled runs.
  // Long: one pass over Vouchers, each row matched with its lines and spooled or noted.
  template <class Runs, class Take>
  bool Add(source::Rows& rows, Runs* runs, bool note_ids, Take take) {
    const auto at = Positions(rows, kVoucherColumns);
    sqlite::Transaction loading(db_);
    sqlite::Statement note = db_.Prepare("INSERT OR IGNORE INTO ids VALUES(?1, ?2)");
    sqlite::Statement noted = db_.Prepare("SELECT row FROM ids WHERE id = ?1");
    sqlite::Statement repeated = db_.Prepare("INSERT INTO repeated VALUES(?1, ?2, ?3, ?4)");
    sqlite::Statement unknown = db_.Prepare("INSERT INTO unknown VALUES(?1, ?2, ?3)");
    sqlite::Statement orphan = db_.Prepare("INSERT INTO orphans VALUES(?1, ?2, ?3)");
    sqlite::Statement lookup =
        db_.Prepare("SELECT lines FROM runs WHERE voucher_id = ?1 ORDER BY seq");
    // A run before the voucher it would belong to is no voucher's: both tables go by VoucherID.
    const auto orphaned = [&] {
      orphan.Bind(1, runs->first()).BindUncopied(2, runs->id()).Bind(3, runs->count()).Run();
      return runs->Step();
    };
    // Without a journal nothing rolls back: what was spooled of them is deleted.
    const auto out_of_step = [&] {
      runs->Stop();
      loading.Commit();
      db_.Execute("DELETE FROM orphans; DELETE FROM unknown; DELETE FROM repeated");
      vouchers_.Clear();
      days_.clear();
      return false;
    };
    std::optional<std::string> last_id;
    std::int64_t last_row = 0;  // the first row of last_id
    std::string lines;
    std::string record;
    while (rows.Next()) {
      const std::string& id = ValueAt(rows, at[0]);
      lines.clear();
      std::int64_t first = 0;  // an earlier row of the same VoucherID
      if (runs) {
        // A VoucherID with blanks around it is the same voucher as the one without: the server
        // is sent it trimmed. Only the look-up below, by the trimmed VoucherID, tells them apart.
        if ((last_id && id < *last_id) || text::Trim(id).size() != id.size()) {
          in_step_ = false;
          return out_of_step();
        }
        if (last_id && id == *last_id) {
          first = last_row;
        } else {
          last_row = rows.RowNumber();
        }
        last_id = id;
        while (runs->more() && runs->id() < id) {
          if (!orphaned()) {
            return out_of_step();
          }
        }
        while (runs->more() && runs->id() == id) {
          lines += runs->lines();
          if (!runs->Step()) {
            return out_of_step();
          }
        }
      } else {
        const std::string_view trimmed = text::Trim(id);
        noted.Reset();
        noted.BindUncopied(1, trimmed);
        if (noted.Step()) {
          first = noted.Int(0);
        } else {
          note.BindUncopied(1, trimmed).Bind(2, rows.RowNumber()).Run();
        }
      }
      const std::optional<DocumentType> type = TypeOf(ValueAt(rows, at[1]));
      if (!take(rows, id, ValueAt(rows, at[1]), ValueAt(rows, at[2]), type)) {
        if (!type && note_ids) {
          unknown.Bind(1, rows.RowNumber())
              .BindUncopied(2, id)
              .BindUncopied(3, ValueAt(rows, at[1]));
          unknown.Run();
        }
        continue;
      }
      if (first > 0) {
        repeated.Bind(1, rows.RowNumber())
            .BindUncopied(2, id)
            .Bind(3, first)
            .Bind(4, static_cast<std::int64_t>(TypeIndex(*type)))
            .Run();
        continue;
      }
      if (!runs) {
        lookup.Reset();
        lookup.BindUncopied(1, id);
        while (lookup.Step()) {
          lines += *lookup.View(0);
        }
      }
      const std::optional<std::string> day = books::SourceDate(ValueAt(rows, at[2]));
      const std::int64_t day_number = day ? DayNumber(*day) : 0;
      ++days_[{TypeIndex(*type), day_number}];
      record.clear();
      for (std::size_t i = 0; i < kVoucherColumns.size(); ++i) {
        if (i != 1) {  // the type is in the key
          Pack(record, ValueAt(rows, at[i]));
        }
      }
      record += lines;
      vouchers_.Add(Key(*type, day_number, rows.RowNumber()), record);
    }
    while (runs && runs->more()) {
      if (!orphaned()) {
        return out_of_step();
      }
    }
    loading.Commit();
    return true;
  }

  // A voucher's key: its type, its day (YYYYMMDD as a number, 0 for none) and its row, so that
  // the keys of a type go by day and row.
  static constexpr std::int64_t kRows = std::int64_t{1} << 32;
  static constexpr std::int64_t kDays = std::int64_t{1} << 27;  // above 99991231
  static std::int64_t Key(DocumentType type, std::int64_t day, std::int64_t row) {
    if (row >= kRows) {
      throw modTally::Failure(modTally::FailureNumber::kDatabase,
                              "Vouchers has more than " + std::to_string(kRows - 1) +
                                  " rows: row " + std::to_string(row) + " cannot be spooled");
    }
    return (static_cast<std::int64_t>(TypeIndex(type)) * kDays + day) * kRows + row;
  }
  static std::int64_t DayNumber(const std::string& day) { return std::stoll(day); }
  static std::string DayText(std::int64_t day) {
    std::string text = std::to_string(day);
    return std::string(8 - std::min<std::size_t>(text.size(), 8), '0') + text;
  }

  // The most a run of lines packs before the next line starts another.
  static constexpr std::size_t kRunBytes = 64 * 1024;

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
  SortedFile vouchers_{"the temporary file of the source's vouchers"};
  // Whether the runs are in the order of their VoucherIDs, so that vouchers in that order too are
  // matched with them in step; they are indexed for look-ups once this is false.
  bool in_step_ = true;
  // How many vouchers of each type are dated each day (0 for none), counted as they are spooled:
  // a few thousand entries whatever the source's size.
  std::map<std::pair<std::size_t, std::int64_t>, long> days_;
};

}  // namespace lirvo::feed
