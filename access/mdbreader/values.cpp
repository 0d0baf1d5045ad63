// Text forms of stored Access values (see values.h).
#include "values.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>

#include <lirvo/text.h>

#include "jet_text.h"

namespace lirvo::mdbreader {

namespace {

static_assert(std::endian::native == std::endian::little,
              "Access stores numbers little-endian; the reader copies them as they are");

struct GFreer {
  void operator()(char* text) const { g_free(text); }
};
using GText = std::unique_ptr<char, GFreer>;

// Shortest decimal that reads back to `value`; fixed notation for ordinary magnitudes.
template <class Real>
std::string ShortestDecimal(Real value) {
  if (value == 0) {
    return "0";  // also for -0
  }
  const Real magnitude = std::fabs(value);
  const auto format = (magnitude >= Real(1e-6) && magnitude < Real(1e21))
                          ? std::chars_format::fixed
                          : std::chars_format::general;
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, format);
  return std::string(buffer, result.ptr);
}

// Drops trailing zeros after a decimal point, and the point itself when nothing follows it.
std::string TrimFraction(std::string text) {
  if (text.find('.') != std::string::npos) {
    while (!text.empty() && text.back() == '0') {
      text.pop_back();
    }
    if (!text.empty() && text.back() == '.') {
      text.pop_back();
    }
  }
  if (text == "-0" || text.empty()) {
    return "0";
  }
  return text;
}

// Appends `value` in exactly `digits` decimal digits, zeros first (`value` must fit): a row has
// several of these, and snprintf cost more than the rest of its cell.
void AppendDigits(std::string& text, unsigned value, int digits) {
  char buffer[10];
  for (int i = digits - 1; i >= 0; --i) {
    buffer[i] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
  text.append(buffer, static_cast<std::size_t>(digits));
}

// Currency is a 64-bit integer count of ten-thousandths.
std::string MoneyText(std::int64_t raw) {
  const bool negative = raw < 0;
  const std::uint64_t magnitude =
      negative ? 0 - static_cast<std::uint64_t>(raw) : static_cast<std::uint64_t>(raw);
  std::string text = negative ? "-" : "";
  text += std::to_string(magnitude / 10000);
  text += '.';
  AppendDigits(text, static_cast<unsigned>(magnitude % 10000), 4);
  return TrimFraction(std::move(text));
}

std::string DateText(double stored) {
  std::tm parts{};
  mdb_date_to_tm(stored, &parts);
  const int year = parts.tm_year + 1900;
  const int month = parts.tm_mon + 1;
  const int day = parts.tm_mday;
  if (year < 0 || year > 9999 || month < 0 || month > 99 || day < 0 || day > 99) {
    char text[32];  // what no calendar date gives: written as it comes
    std::snprintf(text, sizeof text, "%04d%02d%02d", year, month, day);
    return text;
  }
  std::string text;
  AppendDigits(text, static_cast<unsigned>(year), 4);
  AppendDigits(text, static_cast<unsigned>(month), 2);
  AppendDigits(text, static_cast<unsigned>(day), 2);
  return text;
}

std::int64_t MoneyAt(const unsigned char* bytes) {
  std::int64_t raw = 0;
  std::memcpy(&raw, bytes, sizeof raw);
  return raw;
}

// A GUID is stored as a 32-bit, two 16-bit (all little-endian) and eight single bytes. libmdb's
// own form leaves out the dash before the last group; this is the form Access shows.
std::string GuidText(const unsigned char* b) {
  char text[40];
  std::snprintf(text, sizeof text,
                "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", b[3],
                b[2], b[1], b[0], b[5], b[4], b[7], b[6], b[8], b[9], b[10], b[11], b[12], b[13],
                b[14], b[15]);
  return text;
}

}  // namespace

const char* UnreadableTypeName(int type) {
  switch (type) {
    case MDB_BOOL:
    case MDB_BYTE:
    case MDB_INT:
    case MDB_LONGINT:
    case MDB_MONEY:
    case MDB_FLOAT:
    case MDB_DOUBLE:
    case MDB_DATETIME:
    case MDB_TEXT:
    case MDB_MEMO:
    case MDB_REPID:
    case MDB_NUMERIC:
      return nullptr;
    case MDB_BINARY:
      return "binary data";
    case MDB_OLE:
      return "OLE objects";
    case MDB_COMPLEX:
      return "multi-valued data";
    default:
      return "values of an unknown type";
  }
}

std::size_t FixedSize(int type) {
  switch (type) {
    case MDB_BYTE:
      return 1;
    case MDB_INT:
      return 2;
    case MDB_LONGINT:
    case MDB_FLOAT:
      return 4;
    case MDB_MONEY:
    case MDB_DOUBLE:
    case MDB_DATETIME:
      return 8;
    case MDB_REPID:
      return 16;
    case MDB_NUMERIC:
      return 17;
    default:
      return 0;
  }
}

// Long: one case per column type libmdb stores, clearer side by side.
Stored AppendValue(std::string& out, MdbHandle* mdb, const ColumnInfo& column,
                   const MdbField& field) {
  if (column.type == MDB_BOOL) {
    // A Yes/No value lives in the row's null mask: a set bit (not null) is Yes.
    out += field.is_null == 0 ? "Yes" : "No";
    return Stored::kValue;
  }
  if (field.is_null != 0) {
    return Stored::kNull;
  }
  const auto page_size = static_cast<std::size_t>(mdb->fmt->pg_size);
  if (field.start < 0 || field.siz < 0 ||
      static_cast<std::size_t>(field.start) + static_cast<std::size_t>(field.siz) > page_size ||
      static_cast<std::size_t>(field.siz) < FixedSize(column.type)) {
    return Stored::kDamaged;
  }
  unsigned char* const page = mdb->pg_buf;
  switch (column.type) {
    case MDB_TEXT:
      if (!IS_JET3(mdb)) {
        AppendJetText(out, page + field.start, static_cast<std::size_t>(field.siz));
        break;
      }
      [[fallthrough]];  // an Access 97 text is in the file's code page: libmdb knows it
    case MDB_MEMO:
      if (field.siz != 0) {
        const GText text(mdb_col_to_string(mdb, page, field.start, column.type, field.siz));
        out += text ? text.get() : "";
      }
      break;
    case MDB_REPID:
      out += GuidText(page + field.start);
      break;
    case MDB_DATETIME:
      out += DateText(mdb_get_double(page, field.start));
      break;
    case MDB_MONEY:
      out += MoneyText(MoneyAt(page + field.start));
      break;
    case MDB_DOUBLE:
      out += ShortestDecimal(mdb_get_double(page, field.start));
      break;
    case MDB_FLOAT:
      out += ShortestDecimal(mdb_get_single(page, field.start));
      break;
    case MDB_NUMERIC: {
      const GText text(mdb_numeric_to_string(mdb, field.start, column.scale, column.precision));
      out += TrimFraction(text ? std::string(text.get()) : std::string("0"));
      break;
    }
    case MDB_BYTE:
      out += std::to_string(mdb_get_byte(page, field.start));
      break;
    case MDB_INT:
      out += std::to_string(static_cast<std::int16_t>(mdb_get_int16(page, field.start)));
      break;
    case MDB_LONGINT:
      out += std::to_string(static_cast<std::int32_t>(mdb_get_int32(page, field.start)));
      break;
    default:
      // Types without a text form are refused before any row is read.
      return Stored::kNull;
  }
  return Stored::kValue;
}

std::optional<Cell> ReadCell(MdbHandle* mdb, const ColumnInfo& column, const MdbField& field,
                             bool keyed) {
  std::string text;
  switch (AppendValue(text, mdb, column, field)) {
    case Stored::kDamaged:
      return std::nullopt;
    case Stored::kNull:
      return Cell{std::nullopt, std::monostate()};
    case Stored::kValue:
      break;
  }
  SortKey key;
  switch (column.type) {
    case MDB_BOOL:
      key = field.is_null == 0 ? -1.0 : 0.0;  // Access orders Yes (-1) before No (0)
      break;
    case MDB_TEXT:
    case MDB_MEMO:
      key = keyed ? lirvo::text::FoldCase(text) : std::string();
      break;
    case MDB_REPID:
      key = keyed ? text : std::string();
      break;
    case MDB_MONEY:
      key = MoneyAt(mdb->pg_buf + field.start);
      break;
    case MDB_DATETIME:
    case MDB_DOUBLE:
      key = mdb_get_double(mdb->pg_buf, field.start);
      break;
    case MDB_FLOAT:
      key = static_cast<double>(mdb_get_single(mdb->pg_buf, field.start));
      break;
    default: {
      // Numeric and the integers: their text is the number, exactly or (Numeric) nearly.
      double number = 0;
      std::from_chars(text.data(), text.data() + text.size(), number);
      key = number;
    }
  }
  return Cell{std::move(text), std::move(key)};
}

}  // namespace lirvo::mdbreader
