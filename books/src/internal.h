// What the pieces of the documents library share: exact decimal numbers, each type's shape on the
// wire, and a document checked and ready to be written.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include <lirvo/books/document.h>

namespace lirvo::books::detail {

// Why `value` cannot stand in a message as it is, or nothing: a control character that XML 1.0
// cannot carry (all below a blank but tab, CR and LF; NUL too), or bytes that are not UTF-8 text.
// A request holding either is not sent at all (it would not be XML, or not the text it claims to
// be), so each is its document's or master's own problem, found before it joins a request.
std::optional<std::string> TextProblem(std::string_view value);

// ---------------------------------------------------------------------------------------------
// Numbers. Amounts, quantities and rates are kept as whole millionths, so that the party's amount
// (the balance of the lines) is exact whatever the number of lines: a sum of doubles would drift
// by a paisa over enough lines.

struct Decimal {
  std::int64_t micros = 0;
};

// The largest magnitude a number may have: 10^11 (ten thousand crore), far beyond any amount, and
// small enough that adding two never overflows.
inline constexpr std::int64_t kMaxMicros = 100'000'000'000'000'000;

// `text` as a decimal number: an optional sign, digits with an optional fraction, blanks around
// it. Digits beyond the sixth decimal are rounded half away from zero. None when the text is not
// such a number or is beyond kMaxMicros.
std::optional<Decimal> ParseDecimal(std::string_view text);
// Whether `text` is a number, written with or without an exponent, beyond kMaxMicros: what
// ParseDecimal refuses for its size rather than its form.
bool TooLarge(std::string_view text);
// `text` (blanks around it aside, a "+" before it allowed) read as a double into `value`:
// std::from_chars's error, or std::errc::invalid_argument when the number stops short of the end.
std::errc ReadDouble(std::string_view text, double& value);

// A number at the start of `text` (blanks first ignored) and what follows it, trimmed: " 2.00 Nos"
// is 2 and "Nos"; none when `text` does not start with a number.
std::optional<Decimal> LeadingDecimal(std::string_view text, std::string_view* rest = nullptr);

// The shortest text of `value` ("1200", "-0.5", "0") written at `at`, which has room for
// kDecimalChars; returns the end of what it wrote.
inline constexpr std::size_t kDecimalChars = 32;
char* WriteDecimal(char* at, Decimal value);
// The same as a string.
std::string DecimalText(Decimal value);

// ---------------------------------------------------------------------------------------------
// Shapes

// The side of a voucher a line is on: debit lines go negative with ISDEEMEDPOSITIVE Yes, credit
// lines positive with No.
enum class Side { kDebit, kCredit };

enum class View { kInvoice, kAccounting };

// How one type goes on the wire. Every fact about a type lives in the one table in types.cpp.
struct Shape {
  DocumentType type;
  std::string_view server_name;
  std::string_view kind_name;
  View view;
  Side lines;    // the side of the source's lines; the party is on the other
  bool invoice;  // ISINVOICE Yes and VCHENTRYMODE "Item Invoice"
  bool order;    // the number goes in ORDERNO, the due date in ORDERDUEDATE
  bool note;     // the number goes in TRACKINGNUMBER
};

const Shape& ShapeOf(DocumentType type);

constexpr Side Other(Side side) {
  return side == Side::kDebit ? Side::kCredit : Side::kDebit;
}

// The wire amount of `amount` (in the source's sign) on `side`.
constexpr Decimal OnSide(Decimal amount, Side side) {
  return {side == Side::kDebit ? -amount.micros : amount.micros};
}

// ---------------------------------------------------------------------------------------------
// A document checked

struct PreparedLine {
  const Line* line = nullptr;
  Decimal amount;  // in the source's sign
  std::optional<Decimal> quantity, rate;
};

struct Prepared {
  const Shape* shape = nullptr;
  std::string date;  // YYYYMMDD
  std::vector<PreparedLine> items;
  std::vector<PreparedLine> ledgers;
  Decimal party_amount;  // the balance of the lines, in the source's sign (above 0)
};

// Checks `document` and gathers what its message needs into `prepared`; the problem when it
// fails a check. `prepared` refers to `document`'s lines.
std::optional<Problem> Prepare(const Document& document, Prepared& prepared);

// Names compare as the server compares them: ASCII letters without regard to case, blanks at the
// ends ignored.
bool SameName(std::string_view a, std::string_view b);

// The godown a line without one is kept in.
inline constexpr std::string_view kMainLocation = "Main Location";

// ---------------------------------------------------------------------------------------------
// The sales voucher

// Appends FormatAmount's text of `value`, without building strings on the way. Throws
// modTally::Failure (kValue) when `value` is not finite.
void AppendAmount(std::string& out, double value);

}  // namespace lirvo::books::detail
