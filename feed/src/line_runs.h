// The lines of VoucherLines as the documents' spool keeps them: each line's values packed into a
// string (and unpacked again), and the lines of one VoucherID gathered into runs that vouchers are
// matched with in the order of their VoucherIDs.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <lirvo/books/document.h>
#include <lirvo/source.h>
#include <lirvo/sqlite.h>

namespace lirvo::feed {

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

// A number packed in seven bits a byte, low bits first, the high bit set on all but the last:
// the rows and lengths of lines are small, and the spool is written and read whole.
inline void PackNumber(std::string& packed, std::uint64_t number) {
  while (number >= 0x80) {
    packed += static_cast<char>((number & 0x7F) | 0x80);
    number >>= 7;
  }
  packed += static_cast<char>(number);
}
// The number PackNumber packed at the front of `packed`, taken off it.
inline std::uint64_t UnpackNumber(std::string_view& packed) {
  std::uint64_t number = 0;
  for (int shift = 0;; shift += 7) {
    const auto byte = static_cast<unsigned char>(packed.front());
    packed.remove_prefix(1);
    number |= static_cast<std::uint64_t>(byte & 0x7F) << shift;
    if (byte < 0x80) {
      return number;
    }
  }
}

// A value packed as its length and its bytes.
inline void Pack(std::string& packed, const std::string& value) {
  PackNumber(packed, value.size());
  packed += value;
}
// The current line of `rows` (its columns at `at`) packed: its row, then its values but the
// VoucherID.
inline void PackLine(std::string& packed, const source::Rows& rows,
                     const std::array<std::optional<std::size_t>, kLineColumns.size()>& at) {
  PackNumber(packed, static_cast<std::uint64_t>(rows.RowNumber()));
  for (std::size_t i = 1; i < kLineColumns.size(); ++i) {
    Pack(packed, ValueAt(rows, at[i]));
  }
}

// A line's Line as a number, as SQL's CAST to INTEGER reads it: blanks first skipped, a sign, the
// digits up to the first character that is none ("2", " 3", "4.5" and "10x" are 2, 3, 4 and 10),
// 0 without any, held at the bounds of 64 bits.
inline std::int64_t LineNumber(std::string_view text) {
  std::size_t at = text.find_first_not_of(" \t\n\v\f\r");
  if (at == std::string_view::npos) {
    return 0;
  }
  const bool negative = text[at] == '-';
  at += text[at] == '-' || text[at] == '+' ? 1 : 0;
  std::uint64_t magnitude = 0;
  constexpr std::uint64_t kBound = std::uint64_t{1} << 63;  // -2^63; 2^63 - 1 on the other side
  for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
    magnitude = std::min(magnitude * 10 + static_cast<std::uint64_t>(text[at] - '0'), kBound);
    if (magnitude == kBound) {
      break;
    }
  }
  if (negative) {
    return magnitude == kBound ? std::numeric_limits<std::int64_t>::min()
                               : -static_cast<std::int64_t>(magnitude);
  }
  return static_cast<std::int64_t>(std::min(magnitude, kBound - 1));
}

// The value Pack packed at the front of `packed`, taken off it.
inline std::string_view Unpack(std::string_view& packed) {
  const auto size = static_cast<std::size_t>(UnpackNumber(packed));
  const std::string_view value = packed.substr(0, size);
  packed.remove_prefix(value.size());
  return value;
}

// Appends the lines PackLine packed one after another in `packed`, each with its (Line, row).
inline void UnpackLines(std::string_view packed, std::vector<books::Line>& lines,
                        std::vector<std::pair<std::int64_t, std::int64_t>>& order) {
  // Counted first, so that the lines take one allocation rather than one for each doubling.
  std::size_t count = 0;
  for (std::string_view rest = packed; !rest.empty(); ++count) {
    UnpackNumber(rest);
    for (int field = 0; field < 8; ++field) {
      Unpack(rest);
    }
  }
  lines.reserve(lines.size() + count);
  while (!packed.empty()) {
    const auto row = static_cast<std::int64_t>(UnpackNumber(packed));
    books::Line& line = lines.emplace_back();
    for (std::string* field : {&line.line, &line.ledger, &line.item, &line.godown, &line.quantity,
                               &line.unit, &line.rate, &line.amount}) {
      field->assign(Unpack(packed));
    }
    order.emplace_back(LineNumber(line.line), row);
  }
}

// The runs of VoucherLines in the order of their VoucherIDs, as the spool matches vouchers with
// them in step: each its VoucherID, its first row, how many lines and their packed values. Step
// is false when the next run turns out to be out of that order.
//
// Those spooled into the table `runs` (seq, voucher_id, count, lines).
class SpooledRuns {
 public:
  explicit SpooledRuns(sqlite::Database& db)
      : query_(db.Prepare("SELECT seq, voucher_id, count, lines FROM runs ORDER BY seq")),
        more_(query_.Step()) {}
  bool more() const { return more_; }
  std::string_view id() const { return query_.View(1).value_or(""); }
  std::int64_t first() const { return query_.Int(0); }
  std::int64_t count() const { return query_.Int(2); }
  std::string_view lines() const { return query_.View(3).value_or(""); }
  bool Step() {
    more_ = query_.Step();
    return true;
  }
  void Stop() { query_.Reset(); }

 private:
  sqlite::Statement query_;
  bool more_;
};

// Those read from VoucherLines as Vouchers is read: the consecutive lines of one VoucherID.
class SourceRuns {
 public:
  explicit SourceRuns(source::Rows& rows)
      : rows_(rows), at_(Positions(rows, kLineColumns)), next_(rows_.Next()) {
    Step();
  }
  bool more() const { return more_; }
  std::string_view id() const { return id_; }
  std::int64_t first() const { return first_; }
  std::int64_t count() const { return count_; }
  std::string_view lines() const { return packed_; }
  bool Step() {
    more_ = next_;
    if (!more_) {
      return true;
    }
    const std::string& id = ValueAt(rows_, at_[0]);
    if (count_ > 0 && id < id_) {
      return false;
    }
    id_ = id;
    first_ = rows_.RowNumber();
    count_ = 0;
    packed_.clear();
    do {
      PackLine(packed_, rows_, at_);
      ++count_;
      next_ = rows_.Next();
    } while (next_ && ValueAt(rows_, at_[0]) == id_);
    return true;
  }
  void Stop() {}

 private:
  source::Rows& rows_;
  std::array<std::optional<std::size_t>, kLineColumns.size()> at_;
  bool next_;
  bool more_ = false;
  std::string id_;
  std::int64_t first_ = 0;
  std::int64_t count_ = 0;
  std::string packed_;
};

}  // namespace lirvo::feed
