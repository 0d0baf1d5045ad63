// The comparison of one voucher: the row as the sync sends it against the voucher the books hold,
// field by field, as the server compares names and amounts.
#include "verify_compare.h"

#include <lirvo/text.h>
#include <lirvo/verify.h>

#include <algorithm>
#include <cmath>

namespace lirvo::verify {

using books::BooksInventoryLine;
using books::BooksLedgerLine;
using books::BooksVoucher;
using books::FormatAmount;
using books::ReadNumber;
using books::SalesRow;
using books::SalesVoucherFigures;
using books::VoucherFigures;

bool SameName(std::string_view a, std::string_view b) {
  return text::EqualsNoCase(text::Trim(a), text::Trim(b));
}

std::string Plain(const std::optional<std::string>& value) {
  return std::string(text::Trim(value.value_or("")));
}

namespace {

// Amounts and rates: equal when they differ by less than a paisa (a server that keeps two
// decimals rounds to the nearest paisa, so half a paisa apart is still the same amount).
bool SameAmount(double a, double b) {
  return std::fabs(a - b) < 0.005 + 1e-7;
}

// A number at the start of `text` (blanks around it ignored) and what follows it, trimmed:
// " 2 Nos" is 2 and "Nos"; no number when `text` does not start with one.
std::optional<double> LeadingNumber(std::string_view text, std::string_view* rest = nullptr) {
  text = text::Trim(text);
  std::size_t end = 0;
  if (end < text.size() && (text[end] == '-' || text[end] == '+')) {
    ++end;
  }
  bool digits = false;
  for (; end < text.size() && ((text[end] >= '0' && text[end] <= '9') || text[end] == '.'); ++end) {
    digits = digits || text[end] != '.';
  }
  if (rest) {
    *rest = text::Trim(text.substr(digits ? end : 0));
  }
  if (!digits) {
    return std::nullopt;
  }
  return ReadNumber(text.substr(0, end));
}

std::optional<double> SourceNumber(const std::optional<std::string>& value) {
  return value && !text::Trim(*value).empty() ? std::optional<double>(ReadNumber(*value))
                                              : std::nullopt;
}

bool SameQuantity(const std::optional<double>& a, const std::optional<double>& b) {
  if (!a || !b) {
    return !a && !b;
  }
  return std::fabs(*a - *b) <= 1e-9 * std::max({1.0, std::fabs(*a), std::fabs(*b)});
}

class Comparison {
 public:
  void Text(const char* field, std::string_view source, std::string_view books) {
    if (text::Trim(source) != text::Trim(books)) {
      Add(field, source, books);
    }
  }
  void Name(const char* field, std::string_view source, std::string_view books) {
    if (!SameName(source, books)) {
      Add(field, source, books);
    }
  }
  void Amount(const char* field, double source, std::string_view source_text,
              std::string_view books) {
    const std::optional<double> value = LeadingNumber(books);
    if (!value || !SameAmount(source, *value)) {
      Add(field, source_text, books);
    }
  }
  void Add(const char* field, std::string_view source, std::string_view books) {
    differences.push_back({field, std::string(text::Trim(source)), std::string(text::Trim(books))});
  }
  std::vector<FieldDifference> differences;
};

// The line named `name` among `lines` that is not `taken`.
const BooksLedgerLine* Named(const std::vector<BooksLedgerLine>& lines, std::string_view name,
                             const BooksLedgerLine* taken = nullptr) {
  for (const BooksLedgerLine& line : lines) {
    if (&line != taken && SameName(line.ledger, name)) {
      return &line;
    }
  }
  return nullptr;
}

const BooksLedgerLine* FirstOther(const std::vector<BooksLedgerLine>& lines,
                                  std::initializer_list<const BooksLedgerLine*> taken) {
  for (const BooksLedgerLine& line : lines) {
    if (std::find(taken.begin(), taken.end(), &line) == taken.end()) {
      return &line;
    }
  }
  return nullptr;
}

}  // namespace

// Long: the voucher's fields compared in the order the report names them.
std::vector<FieldDifference> CompareVoucher(const SalesRow& row, const BooksVoucher& books) {
  const SalesVoucherFigures figures = VoucherFigures(row);
  Comparison c;
  c.Text("date", Plain(row.VoucherDate), books.date);
  c.Text("reference", Plain(row.RefNo), books.reference);
  c.Name("party", Plain(row.PartyName), books.party);

  // The party's line is the one the books name as party (or the source names), else the first
  // deemed positive; the tax line the one named as the tax ledger, else the first other line.
  const std::vector<BooksLedgerLine>& lines = books.ledgers;
  const BooksLedgerLine* party = Named(lines, books.party);
  party = party ? party : Named(lines, Plain(row.PartyName));
  for (const BooksLedgerLine& line : lines) {
    if (!party && SameName(line.deemed_positive, "Yes")) {
      party = &line;
    }
  }
  party = party ? party : FirstOther(lines, {});
  const BooksLedgerLine* tax = Named(lines, Plain(row.TaxAc), party);
  tax = tax ? tax : FirstOther(lines, {party});
  const BooksLedgerLine none;
  c.Name("party ledger", Plain(row.PartyName), (party ? *party : none).ledger);
  c.Amount("party amount", -figures.gross, FormatAmount(-figures.gross),
           (party ? *party : none).amount);
  c.Name("tax ledger", Plain(row.TaxAc), (tax ? *tax : none).ledger);
  c.Amount("tax amount", figures.tax, FormatAmount(figures.tax), (tax ? *tax : none).amount);

  const BooksInventoryLine empty_line;
  const BooksInventoryLine& line = books.inventory.empty() ? empty_line : books.inventory.front();
  c.Name("item", Plain(row.ItemName), line.item);
  std::string_view books_unit;
  const std::optional<double> books_qty = LeadingNumber(line.quantity, &books_unit);
  if (!SameQuantity(SourceNumber(row.Qty), books_qty) || !SameName(Plain(row.Unit), books_unit)) {
    c.Add("quantity", Plain(row.Qty) + " " + Plain(row.Unit), line.quantity);
  }
  const std::size_t slash = line.rate.find('/');
  const std::optional<double> books_rate = LeadingNumber(line.rate.substr(0, slash));
  const std::string_view rate_unit = slash == std::string::npos
                                         ? std::string_view()
                                         : std::string_view(line.rate).substr(slash + 1);
  const std::optional<double> source_rate = SourceNumber(row.Rate);
  const bool same_rate = source_rate && books_rate ? SameAmount(*source_rate, *books_rate)
                                                   : !source_rate && !books_rate;
  if (!same_rate || !SameName(Plain(row.Unit), rate_unit)) {
    c.Add("rate", Plain(row.Rate) + "/" + Plain(row.Unit), line.rate);
  }
  c.Amount("amount", figures.amount, Plain(row.Amount), line.amount);

  // The sales ledger: the inventory line's allocation, or in some shapes a ledger entry.
  const BooksLedgerLine* sales =
      line.allocations.empty() ? Named(lines, Plain(row.SalesLedger), party) : &line.allocations[0];
  if (sales == tax && sales) {
    sales = nullptr;
  }
  c.Name("sales ledger", Plain(row.SalesLedger), (sales ? *sales : none).ledger);
  c.Amount("sales amount", figures.amount, Plain(row.Amount), (sales ? *sales : none).amount);

  const std::size_t expected_ledgers = line.allocations.empty() && sales ? 3 : 2;
  if (lines.size() > expected_ledgers) {
    c.Add("ledger entries", std::to_string(expected_ledgers), std::to_string(lines.size()));
  }
  if (books.inventory.size() > 1) {
    c.Add("inventory lines", "1", std::to_string(books.inventory.size()));
  }
  if (line.allocations.size() > 1) {
    c.Add("sales allocations", "1", std::to_string(line.allocations.size()));
  }
  return std::move(c.differences);
}

}  // namespace lirvo::verify
