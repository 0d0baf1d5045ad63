// The comparison of a source document with the books' copy, field by field, as the server compares
// names and amounts.
#include <algorithm>

#include <lirvo/text.h>

#include "internal.h"

namespace lirvo::books {

namespace {

using detail::Decimal;
using detail::PreparedLine;

std::string Plain(std::string_view value) {
  return std::string(text::Trim(value));
}

// Amounts and rates are the same when less than half a paisa apart: a server that keeps two
// decimals rounds to the nearest paisa.
constexpr std::int64_t kHalfPaisa = 5'000;

class Comparison {
 public:
  void Text(std::string field, std::string_view source, std::string_view books) {
    if (text::Trim(source) != text::Trim(books)) {
      Add(std::move(field), source, books);
    }
  }
  void Name(std::string field, std::string_view source, std::string_view books) {
    if (!detail::SameName(source, books)) {
      Add(std::move(field), source, books);
    }
  }
  // `source` a number the checks have read; `books` the books' text.
  void Amount(std::string field, Decimal source, std::string_view books) {
    const std::optional<Decimal> value = detail::LeadingDecimal(books);
    const std::int64_t difference = value ? value->micros - source.micros : 0;
    if (!value || difference > kHalfPaisa || difference < -kHalfPaisa) {
      Add(std::move(field), detail::DecimalText(source), books);
    }
  }
  void Add(std::string field, std::string_view source, std::string_view books) {
    differences.push_back({std::move(field), Plain(source), Plain(books)});
  }
  std::vector<FieldDifference> differences;
};

void CompareLine(Comparison& c, const PreparedLine& source, const Line& books, bool item) {
  const Line& line = *source.line;
  const std::string where = "line " + (Plain(line.line).empty() ? books.line : Plain(line.line));
  c.Name(where + " ledger", line.ledger, books.ledger);
  c.Amount(where + " amount", source.amount, books.amount);
  if (!item) {
    return;
  }
  c.Name(where + " item", line.item, books.item);
  const std::string_view godown =
      text::Trim(line.godown).empty() ? detail::kMainLocation : text::Trim(line.godown);
  c.Name(where + " godown", godown, books.godown);
  const std::optional<Decimal> quantity = detail::ParseDecimal(books.quantity);
  if (!quantity || quantity->micros != source.quantity->micros ||
      !detail::SameName(line.unit, books.unit)) {
    c.Add(where + " quantity", Plain(line.quantity) + " " + Plain(line.unit),
          Plain(books.quantity + " " + books.unit));
  }
  if (source.rate) {
    c.Amount(where + " rate", *source.rate, books.rate);
  }
}

}  // namespace

std::vector<FieldDifference> Compare(const Document& source, const BooksDocument& books) {
  Comparison c;
  detail::Prepared prepared;
  if (const std::optional<Problem> problem = detail::Prepare(source, prepared)) {
    c.Add("source", problem->Text(), "");
    return std::move(c.differences);
  }
  const Document& copy = books.document;
  c.Text("type", ServerName(source.type), ServerName(copy.type));
  c.Text("date", prepared.date, copy.date);
  c.Text("reference", source.reference, copy.reference);
  c.Name("party", source.party, copy.party);
  c.Text("narration", source.narration, copy.narration);
  c.Amount("party amount", prepared.party_amount, books.party_amount);

  std::vector<const Line*> items, ledgers;
  for (const Line& line : copy.lines) {
    (text::Trim(line.item).empty() ? ledgers : items).push_back(&line);
  }
  if (items.size() != prepared.items.size()) {
    c.Add("inventory lines", std::to_string(prepared.items.size()), std::to_string(items.size()));
  }
  if (ledgers.size() != prepared.ledgers.size()) {
    c.Add("ledger entries", std::to_string(prepared.ledgers.size()),
          std::to_string(ledgers.size()));
  }
  for (std::size_t i = 0; i < std::min(items.size(), prepared.items.size()); ++i) {
    CompareLine(c, prepared.items[i], *items[i], true);
  }
  for (std::size_t i = 0; i < std::min(ledgers.size(), prepared.ledgers.size()); ++i) {
    CompareLine(c, prepared.ledgers[i], *ledgers[i], false);
  }
  return std::move(c.differences);
}

}  // namespace lirvo::books
