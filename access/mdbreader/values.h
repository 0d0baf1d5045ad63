// The text form of a stored Access value, taken from the bytes libmdb's row cracker points at
// rather than through libmdb's locale-dependent formatting, with the key DISTINCT orders it by.
//   Text, Memo                            as stored, UTF-8
//   Date/Time                             YYYYMMDD
//   Currency, Double, Single, Numeric     shortest decimal that reads back to the same value,
//                                         "." as decimal point, no trailing zeros ("600", "1.2")
//   Byte, Integer, Long                   decimal
//   Yes/No                                "Yes" or "No"
//   Replication ID                        {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}, capitals
#pragma once

// mdbtools.h includes glib inside its extern "C" block, which breaks glib's C++ templates; with
// glib included first its include guard keeps the second inclusion empty.
#include <glib.h>
// clang-format off
#include <mdbtools.h>
// clang-format on

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

namespace lirvo::mdbreader {

// How DISTINCT orders a column's values: nulls first, then by value; text by the bytes of its
// ASCII-case-folded form.
using SortKey = std::variant<std::monostate, std::string, double, std::int64_t>;

struct Cell {
  std::optional<std::string> text;  // no value for a null
  SortKey key;
};

struct ColumnInfo {
  std::string name;
  int type = 0;
  int scale = 0;
  int precision = 0;
};

// What a column of `type` holds when the type has no text form ("OLE objects"); null when it has.
const char* UnreadableTypeName(int type);

// The number of bytes a value of `type` takes in a row; 0 for variable-length types.
std::size_t FixedSize(int type);

enum class Stored { kValue, kNull, kDamaged };

// Appends the text form of one cracked field, whose bytes are in mdb->pg_buf, to `out`. Appends
// nothing for a null, and for a damaged row: the field's bytes lie outside the page or are too
// few for its type.
Stored AppendValue(std::string& out, MdbHandle* mdb, const ColumnInfo& column,
                   const MdbField& field);

// The value of one cracked field, as AppendValue reads it, with its sort key. Without `keyed` a
// text's sort key is left empty. Gives no value for a damaged row.
std::optional<Cell> ReadCell(MdbHandle* mdb, const ColumnInfo& column, const MdbField& field,
                             bool keyed);

}  // namespace lirvo::mdbreader
