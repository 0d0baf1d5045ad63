// The local checks of a document: what makes a voucher the server accepts, checked before anything
// is sent, each failure naming the voucher, the line and the column.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include <lirvo/encoding.h>
#include <lirvo/text.h>

#include "internal.h"

namespace lirvo::books {

namespace {

using detail::Decimal;

bool IsDigits(std::string_view text) {
  for (const char c : text) {
    if (c < '0' || c > '9') {
      return false;
    }
  }
  return !text.empty();
}

int Number(std::string_view digits) {
  int value = 0;
  for (const char c : digits) {
    value = value * 10 + (c - '0');
  }
  return value;
}

bool IsCalendarDate(int year, int month, int day) {
  static constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (year < 1 || month < 1 || month > 12 || day < 1 || day > kDays[month - 1]) {
    return false;
  }
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month != 2 || day <= 28 || leap;
}

std::string Quoted(std::string_view value) {
  return "\"" + std::string(value) + "\"";
}

// Builds the problems of one document, each naming it.
class Checker {
 public:
  explicit Checker(const Document& document) : document_(document) {}

  Problem Voucher(const char* column, std::string reason) const {
    return {document_.voucher_id, "", column, std::move(reason)};
  }
  Problem OnLine(const Line& line, const char* column, std::string reason) const {
    // A line without a Line value is named by its place among the voucher's lines.
    std::string where = std::string(text::Trim(line.line));
    if (where.empty()) {
      where = "#" + std::to_string(&line - document_.lines.data() + 1);
    }
    return {document_.voucher_id, where, column, std::move(reason)};
  }

  // The number in `value`, or the problem of a value that is not one.
  std::optional<Problem> Read(const Line& line, const char* column, const std::string& value,
                              std::optional<Decimal>& number) const {
    if (text::Trim(value).empty()) {
      return std::nullopt;
    }
    number = detail::ParseDecimal(value);
    if (!number) {
      return OnLine(line, column,
                    Quoted(value) + (detail::TooLarge(value)
                                         ? " is too large: the largest number is 100000000000"
                                         : " is not a number"));
    }
    return std::nullopt;
  }

 private:
  const Document& document_;
};

bool Empty(const std::string& value) {
  return text::Trim(value).empty();
}

}  // namespace

std::string Problem::Text() const {
  std::string text = "voucher " + voucher_id;
  if (!line.empty()) {
    text += ", line " + line;
  }
  if (!column.empty()) {
    text += ", " + column;
  }
  return text + ": " + reason;
}

Problem UnknownType(std::string_view voucher_id, std::string_view voucher_type) {
  std::string names;
  for (const DocumentType type : kDocumentTypes) {
    names += (names.empty() ? "" : ", ") + std::string(ServerName(type));
  }
  return {std::string(voucher_id), "", "VoucherType",
          "\"" + std::string(voucher_type) + "\" is not a voucher type; the types are " + names};
}

std::optional<std::string> SourceDate(std::string_view text) {
  text = text::Trim(text);
  // Gathered in place, without a string for each part: every document's date is read so, more
  // than once.
  char gathered[8];
  if (text.size() == 8) {
    std::copy(text.begin(), text.end(), gathered);
  } else if (text.size() >= 10 && text[4] == '-' && text[7] == '-' &&
             (text.size() == 10 || text[10] == ' ' || text[10] == 'T')) {
    std::copy(text.begin(), text.begin() + 4, gathered);
    std::copy(text.begin() + 5, text.begin() + 7, gathered + 4);
    std::copy(text.begin() + 8, text.begin() + 10, gathered + 6);
  } else {
    return std::nullopt;
  }
  const std::string_view digits(gathered, sizeof gathered);
  if (!IsDigits(digits) || !IsCalendarDate(Number(digits.substr(0, 4)), Number(digits.substr(4, 2)),
                                           Number(digits.substr(6, 2)))) {
    return std::nullopt;
  }
  return std::string(digits);
}

DocumentFailure::DocumentFailure(Problem problem)
    : modTally::Failure(modTally::FailureNumber::kValue, problem.Text()),
      problem_(std::move(problem)) {}

namespace detail {

std::optional<std::string> TextProblem(std::string_view value) {
  // Eight bytes at a time while all are printable ASCII, as nearly all text is: a byte below 0x20
  // (the lowest, at least) sets its top bit when 0x20 is taken from it, and one from 0x80 has it
  // set. The bytes from the first eight that are not are looked at one by one.
  constexpr std::uint64_t kOnes = 0x0101010101010101;
  std::size_t at = 0;
  for (; at + 8 <= value.size(); at += 8) {
    std::uint64_t word = 0;
    std::memcpy(&word, value.data() + at, sizeof word);
    if ((((word - 0x20 * kOnes) | word) & (0x80 * kOnes)) != 0) {
      break;
    }
  }
  bool wide = false;
  for (const char c : value.substr(at)) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 && c != '\t' && c != '\r' && c != '\n') {
      static constexpr char kHex[] = "0123456789abcdef";
      return std::string("holds the control character 0x") + kHex[byte >> 4] + kHex[byte & 0xf] +
             ", which an XML message cannot carry";
    }
    wide = wide || byte >= 0x80;
  }
  if (wide) {
    if (const std::size_t bad = encoding::FindInvalidUtf8(value); bad != std::string_view::npos) {
      return "is not UTF-8 text (from its byte " + std::to_string(bad + 1) +
             "); fix the text, or the encoding the source stores it in";
    }
  }
  return std::nullopt;
}

namespace {

// Checks one line and reads its numbers into `ready`; the problem when it fails a check.
std::optional<Problem> PrepareLine(const Checker& check, const Shape& shape, const Line& line,
                                   PreparedLine& ready) {
  for (const auto& [column, value] :
       {std::pair{"Ledger", &line.ledger}, std::pair{"Item", &line.item},
        std::pair{"Godown", &line.godown}, std::pair{"Unit", &line.unit}}) {
    if (std::optional<std::string> problem = detail::TextProblem(*value)) {
      return check.OnLine(line, column, std::move(*problem));
    }
  }
  const bool item = !Empty(line.item);
  if (Empty(line.ledger)) {
    return check.OnLine(
        line, "Ledger",
        item ? "the line names no ledger to allocate its item to" : "the line names no ledger");
  }
  std::optional<Decimal> amount;
  if (auto problem = check.Read(line, "Amount", line.amount, amount)) {
    return problem;
  }
  if (!amount) {
    return check.OnLine(line, "Amount", "the line has no amount");
  }
  ready = PreparedLine{&line, *amount, {}, {}};
  if (auto problem = check.Read(line, "Quantity", line.quantity, ready.quantity)) {
    return problem;
  }
  if (auto problem = check.Read(line, "Rate", line.rate, ready.rate)) {
    return problem;
  }
  if (ready.quantity && Empty(line.unit)) {
    return check.OnLine(line, "Unit", "a Quantity is given without a Unit");
  }
  if (!item) {
    for (const auto& [column, value] :
         {std::pair{"Quantity", &line.quantity}, std::pair{"Unit", &line.unit},
          std::pair{"Rate", &line.rate}, std::pair{"Godown", &line.godown}}) {
      if (!Empty(*value)) {
        return check.OnLine(line, column,
                            std::string(column) + " is given on a line without an Item");
      }
    }
    return std::nullopt;
  }
  if (shape.view == View::kAccounting) {
    return check.OnLine(
        line, "Item",
        "a " + std::string(shape.server_name) + " holds ledger lines only, not items");
  }
  if (!ready.quantity) {
    return check.OnLine(line, "Quantity", "a line with an Item needs a Quantity");
  }
  for (const auto& [column, value] :
       {std::pair{"Quantity", ready.quantity}, std::pair{"Amount", std::optional(ready.amount)},
        std::pair{"Rate", ready.rate}}) {
    if (value && value->micros < 0) {
      return check.OnLine(line, column,
                          "an item's " + std::string(column) + " must not be negative");
    }
  }
  return std::nullopt;
}

}  // namespace

std::optional<Problem> Prepare(const Document& document, Prepared& prepared) {
  const Checker check(document);
  prepared = Prepared{};
  prepared.shape = &ShapeOf(document.type);
  const Shape& shape = *prepared.shape;
  for (const auto& [column, value] :
       {std::pair{"VoucherID", &document.voucher_id}, std::pair{"Number", &document.number},
        std::pair{"Reference", &document.reference}, std::pair{"Party", &document.party},
        std::pair{"Narration", &document.narration}}) {
    if (std::optional<std::string> problem = detail::TextProblem(*value)) {
      return check.Voucher(column, std::move(*problem));
    }
  }
  if (Empty(document.voucher_id)) {
    return check.Voucher("VoucherID", "the voucher has no VoucherID");
  }
  const std::optional<std::string> date = SourceDate(document.date);
  if (!date) {
    return check.Voucher(
        "Date", Quoted(document.date) + " is not a calendar date written YYYY-MM-DD or YYYYMMDD");
  }
  prepared.date = *date;
  if (Empty(document.party)) {
    return check.Voucher("Party", "the voucher names no party");
  }
  if (document.lines.empty()) {
    return check.Voucher("VoucherLines", "the voucher has no lines");
  }
  // Each list sized once: this runs for every document of a source.
  const auto items = static_cast<std::size_t>(
      std::ranges::count_if(document.lines, [](const Line& line) { return !Empty(line.item); }));
  prepared.items.reserve(items);
  prepared.ledgers.reserve(document.lines.size() - items);
  Decimal balance;
  for (const Line& line : document.lines) {
    PreparedLine ready;
    if (auto problem = PrepareLine(check, shape, line, ready)) {
      return problem;
    }
    (Empty(line.item) ? prepared.ledgers : prepared.items).push_back(ready);
    balance.micros += ready.amount.micros;
    if (balance.micros > kMaxMicros || balance.micros < -kMaxMicros) {
      return check.OnLine(line, "Amount", "the lines add up to more than an amount can hold");
    }
  }
  if (shape.view == View::kInvoice && prepared.items.empty()) {
    return check.Voucher(
        "Item", "a " + std::string(shape.server_name) + " needs at least one line with an Item");
  }
  if (balance.micros <= 0) {
    return check.Voucher("Amount", "the lines add up to " + DecimalText(balance) +
                                       ", which leaves the party no amount (amounts are "
                                       "positive; only a line that reduces the voucher is "
                                       "negative)");
  }
  prepared.party_amount = balance;
  return std::nullopt;
}

}  // namespace detail

std::optional<Problem> Check(const Document& document) {
  detail::Prepared prepared;
  return detail::Prepare(document, prepared);
}

CheckedDocument::CheckedDocument() = default;
CheckedDocument::~CheckedDocument() = default;
CheckedDocument::CheckedDocument(CheckedDocument&&) noexcept = default;
CheckedDocument& CheckedDocument::operator=(CheckedDocument&&) noexcept = default;

std::optional<Problem> Check(const Document& document, CheckedDocument& checked) {
  auto prepared = std::make_unique<detail::Prepared>();
  std::optional<Problem> problem = detail::Prepare(document, *prepared);
  checked.prepared_ = problem ? nullptr : std::move(prepared);
  return problem;
}

std::optional<std::string> Windows1252Loss(std::string_view text) {
  std::size_t at = 0;
  try {
    at = encoding::FindOutsideWindows1252(text);
  } catch (const encoding::Error&) {
    return "is not valid UTF-8 text, and the server would not keep it as it is";
  }
  if (at == std::string_view::npos) {
    return std::nullopt;
  }
  std::size_t end = at + 1;
  while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
    ++end;
  }
  return "holds \"" + std::string(text.substr(at, end - at)) +
         "\", which the server stores as \"?\" when the request is UTF-8 "
         "(LIRVO_TALLY_ENCODING=utf-8); unset LIRVO_TALLY_ENCODING to send UTF-16, which "
         "keeps every character";
}

std::optional<Problem> Windows1252Loss(const Document& document) {
  const auto loss = [&document](const Line* line, const char* column,
                                const std::string& value) -> std::optional<Problem> {
    if (std::optional<std::string> reason = Windows1252Loss(std::string_view(value))) {
      return Problem{document.voucher_id, line ? line->line : "", column,
                     "\"" + value + "\" " + *reason};
    }
    return std::nullopt;
  };
  for (const auto& [column, value] : {std::pair{"VoucherID", &document.voucher_id},
                                      {"Number", &document.number},
                                      {"Reference", &document.reference},
                                      {"Party", &document.party},
                                      {"Narration", &document.narration}}) {
    if (auto problem = loss(nullptr, column, *value)) {
      return problem;
    }
  }
  for (const Line& line : document.lines) {
    for (const auto& [column, value] : {std::pair{"Ledger", &line.ledger},
                                        {"Item", &line.item},
                                        {"Godown", &line.godown},
                                        {"Unit", &line.unit}}) {
      if (auto problem = loss(&line, column, *value)) {
        return problem;
      }
    }
  }
  return std::nullopt;
}

}  // namespace lirvo::books
