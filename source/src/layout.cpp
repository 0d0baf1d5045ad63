// The source layout: the kinds, the columns of each table, the financial years and the survey of
// what a source offers.
#include "lirvo/source_layout.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>
#include <set>
#include <unordered_set>

#include <lirvo/modTallyIm.h>
#include <lirvo/text.h>

namespace lirvo::source {

namespace {

using namespace std::string_view_literals;

// Masters in dependency order (units and godowns stand alone; a group before what it holds),
// then documents as the dialog lists them. The voucher types are the server's own names.
constexpr std::array kKinds{
    Kind{"godowns", "Godowns", "", "Godowns"},
    Kind{"units", "Units", "", "Units"},
    Kind{"stock-groups", "StockGroups", "", "Stock Groups"},
    Kind{"stock-items", "StockItems", "", "Stock Items"},
    Kind{"ledger-groups", "LedgerGroups", "", "Ledger Groups"},
    Kind{"ledgers", "Ledgers", "", "Ledgers"},
    Kind{"sales-orders", kVouchersTable, "Sales Order", "Sales Orders"},
    Kind{"delivery-notes", kVouchersTable, "Delivery Note", "Delivery Notes"},
    Kind{"sales", kVouchersTable, "Sales", "Sales"},
    Kind{"receipts", kVouchersTable, "Receipt", "Receipts"},
    Kind{"purchase-orders", kVouchersTable, "Purchase Order", "Purchase Orders"},
    Kind{"receipt-notes", kVouchersTable, "Receipt Note", "Receipt Notes"},
    Kind{"purchases", kVouchersTable, "Purchase", "Purchases"},
    Kind{"payments", kVouchersTable, "Payment", "Payments"},
};

constexpr std::array kVoucherColumns{"VoucherID"sv, "VoucherType"sv, "Date"sv,     "Number"sv,
                                     "Reference"sv, "Party"sv,       "Narration"sv};
constexpr std::array kVoucherRequired{"VoucherID"sv, "VoucherType"sv, "Date"sv};
constexpr std::array kLineColumns{"VoucherID"sv, "Line"sv, "Ledger"sv, "Item"sv,  "Godown"sv,
                                  "Quantity"sv,  "Unit"sv, "Rate"sv,   "Amount"sv};
constexpr std::array kLineRequired{"VoucherID"sv, "Amount"sv};

// A master record's field names but OldName: a source creates masters, it never renames them.
template <class Record>
std::vector<std::string_view> FieldNames() {
  std::vector<std::string_view> names;
  for (const auto& field : modTallyIm::FieldsOf<Record>()) {
    if (field.name != "OldName") {
      names.push_back(field.name);
    }
  }
  return names;
}

std::string Quoted(std::string_view text) {
  return "\"" + std::string(text) + "\"";
}

bool Contains(const std::vector<std::string_view>& names, std::string_view name) {
  return std::any_of(names.begin(), names.end(),
                     [name](std::string_view n) { return text::EqualsNoCase(n, name); });
}

int StartYear(std::chrono::year_month_day day) {
  const int year = static_cast<int>(day.year());
  return day.month() >= std::chrono::April ? year : year - 1;
}

std::string YearName(int start) {
  char text[16];
  std::snprintf(text, sizeof text, "%d-%02d", start, (start + 1) % 100);
  return text;
}

// Adds the financial year of `value`, when it reads as a date; counts it otherwise.
void NoteDate(const Value& value, std::set<int>& years, std::int64_t& undated) {
  const auto day = value ? ParseDate(text::Trim(*value)) : std::nullopt;
  if (day) {
    years.insert(StartYear(*day));
  } else {
    ++undated;
  }
}

// Counts the distinct names of `value` (folded as the server folds them) into `names`.
void NoteName(const Value& value, std::unordered_set<std::string>& names) {
  if (value && !text::Trim(*value).empty()) {
    names.insert(text::FoldCase(text::Trim(*value)));
  }
}

// The `lirvo build` command of a master table's record; empty for other tables.
std::string_view BuildCommand(std::string_view layout_table) {
  constexpr std::array<std::array<std::string_view, 2>, 6> kCommands{{{"Godowns", "godown"},
                                                                      {"Units", "unit"},
                                                                      {"StockGroups", "stockgroup"},
                                                                      {"StockItems", "stockitem"},
                                                                      {"LedgerGroups", "group"},
                                                                      {"Ledgers", "ledger"}}};
  for (const auto& [table, command] : kCommands) {
    if (text::EqualsNoCase(table, layout_table)) {
      return command;
    }
  }
  return {};
}

}  // namespace

std::span<const Kind> Kinds() {
  return kKinds;
}

const Kind* FindKind(std::string_view name) {
  for (const Kind& kind : kKinds) {
    if (text::EqualsNoCase(kind.name, text::Trim(name))) {
      return &kind;
    }
  }
  return nullptr;
}

const Kind* KindOfVoucherType(std::string_view voucher_type) {
  const std::string_view type = text::Trim(voucher_type);
  for (const Kind& kind : kKinds) {
    if (kind.document() &&
        (text::EqualsNoCase(kind.voucher_type, type) || text::EqualsNoCase(kind.label, type) ||
         text::EqualsNoCase(kind.name, type))) {
      return &kind;
    }
  }
  return nullptr;
}

std::vector<std::string_view> AllowedColumns(std::string_view layout_table) {
  using namespace modTallyIm;
  if (text::EqualsNoCase(layout_table, "Godowns")) {
    return FieldNames<GodownMaster>();
  }
  if (text::EqualsNoCase(layout_table, "Units")) {
    return FieldNames<UnitMaster>();
  }
  if (text::EqualsNoCase(layout_table, "StockGroups")) {
    return FieldNames<StockGroupMaster>();
  }
  if (text::EqualsNoCase(layout_table, "StockItems")) {
    return FieldNames<StockItemMaster>();
  }
  if (text::EqualsNoCase(layout_table, "LedgerGroups")) {
    return FieldNames<GroupMaster>();
  }
  if (text::EqualsNoCase(layout_table, "Ledgers")) {
    return FieldNames<LedgerMaster>();
  }
  if (text::EqualsNoCase(layout_table, kVouchersTable)) {
    return {kVoucherColumns.begin(), kVoucherColumns.end()};
  }
  if (text::EqualsNoCase(layout_table, kVoucherLinesTable)) {
    return {kLineColumns.begin(), kLineColumns.end()};
  }
  return {};
}

std::vector<std::string_view> RequiredColumns(std::string_view layout_table) {
  if (text::EqualsNoCase(layout_table, kVouchersTable)) {
    return {kVoucherRequired.begin(), kVoucherRequired.end()};
  }
  if (text::EqualsNoCase(layout_table, kVoucherLinesTable)) {
    return {kLineRequired.begin(), kLineRequired.end()};
  }
  if (AllowedColumns(layout_table).empty()) {
    return {};
  }
  return {"Name"sv};
}

void CheckColumns(Source& source, std::string_view layout_table) {
  const auto table = source.FindTable(layout_table);
  if (!table) {
    throw Error(source.name() + " has no table " + Quoted(layout_table));
  }
  const std::vector<std::string> columns = source.Columns(*table);
  const std::vector<std::string_view> allowed = AllowedColumns(layout_table);
  const std::string where = "table " + Quoted(*table) + " of " + source.name();
  for (const std::string& column : columns) {
    if (Contains(allowed, column)) {
      continue;
    }
    std::string reason;
    if (text::EqualsNoCase(column, "OldName")) {
      reason = "which a source does not use (it creates masters and never renames one)";
    } else if (const std::string_view command = BuildCommand(layout_table); !command.empty()) {
      reason = "which the master record does not have (lirvo build " + std::string(command) +
               " --help lists its fields)";
    } else {
      std::string list;
      for (const std::string_view name : allowed) {
        list += (list.empty() ? "" : ", ") + std::string(name);
      }
      reason =
          "which the layout does not have (" + Quoted(layout_table) + " may have " + list + ")";
    }
    throw Error(where + " has the column " + Quoted(column) + ", " + reason);
  }
  for (const std::string_view required : RequiredColumns(layout_table)) {
    const bool present = std::any_of(columns.begin(), columns.end(), [required](const auto& c) {
      return text::EqualsNoCase(c, required);
    });
    if (!present) {
      throw Error(where + " has no column " + Quoted(required) + ", which every row needs");
    }
  }
}

std::string FinancialYear(std::chrono::year_month_day day) {
  return YearName(StartYear(day));
}

std::optional<DateRange> FinancialYearRange(std::string_view year) {
  year = text::Trim(year);
  int start = 0;
  int end = 0;
  if (year.size() != 7 || year[4] != '-' ||
      std::from_chars(year.data(), year.data() + 4, start).ptr != year.data() + 4 ||
      std::from_chars(year.data() + 5, year.data() + 7, end).ptr != year.data() + 7 ||
      year[0] == '-' || year[5] == '-' || year[5] == '+' || end != (start + 1) % 100) {
    return std::nullopt;
  }
  using namespace std::chrono;
  return DateRange{year_month_day(std::chrono::year(start), April, day(1)),
                   year_month_day(std::chrono::year(start + 1), March, day(31))};
}

// Long: one question per kind of what a source offers, listed in order.
Offer Survey(Source& source) {
  Offer offer;
  std::set<int> years;
  const auto add = [&offer](std::string_view kind, const std::string& table, std::int64_t rows) {
    offer.kinds.push_back(KindRows{FindKind(kind), table, rows});
  };

  for (const Kind& kind : kKinds) {
    if (kind.document()) {
      continue;
    }
    if (const auto table = source.FindTable(kind.table)) {
      CheckColumns(source, kind.table);
      add(kind.name, *table, source.RowCount(*table));
    }
  }

  if (const auto table = source.FindTable(kVouchersTable)) {
    CheckColumns(source, kVouchersTable);
    if (source.FindTable(kVoucherLinesTable)) {
      CheckColumns(source, kVoucherLinesTable);
    }
    std::array<std::int64_t, kKinds.size()> counts{};
    const std::unique_ptr<Rows> rows = source.Read(*table);
    const std::size_t type = *rows->Find("VoucherType");
    const std::size_t date = *rows->Find("Date");
    while (rows->Next()) {
      const Value& written = rows->Values()[type];
      const Kind* kind = written ? KindOfVoucherType(*written) : nullptr;
      if (kind == nullptr) {
        if (offer.unknown_types++ == 0) {
          offer.first_unknown_type = written.value_or("");
        }
        continue;
      }
      ++counts[static_cast<std::size_t>(kind - kKinds.data())];
      NoteDate(rows->Values()[date], years, offer.undated);
    }
    for (std::size_t i = 0; i < kKinds.size(); ++i) {
      if (counts[i] > 0) {
        add(kKinds[i].name, *table, counts[i]);
      }
    }
  }

  if (const auto table = source.FindTable(kSalesTable)) {
    // Today's shape: one sales voucher a row, naming the units, items and ledgers it needs.
    std::unordered_set<std::string> units;
    std::unordered_set<std::string> items;
    std::unordered_set<std::string> ledgers;
    std::int64_t sales = 0;
    const std::unique_ptr<Rows> rows = source.Read(*table);
    const auto column = [&rows](std::string_view name) { return rows->Find(name); };
    const auto date = column("VoucherDate");
    const auto unit = column("Unit");
    const auto item = column("ItemName");
    const std::array ledger_columns{column("PartyName"), column("SalesLedger"), column("TaxAc")};
    static const Value kNull;
    const auto value = [&rows](const std::optional<std::size_t>& at) -> const Value& {
      return at ? rows->Values()[*at] : kNull;
    };
    while (rows->Next()) {
      ++sales;
      NoteDate(value(date), years, offer.undated);
      NoteName(value(unit), units);
      NoteName(value(item), items);
      for (const auto& at : ledger_columns) {
        NoteName(value(at), ledgers);
      }
    }
    add("units", *table, static_cast<std::int64_t>(units.size()));
    add("stock-items", *table, static_cast<std::int64_t>(items.size()));
    add("ledgers", *table, static_cast<std::int64_t>(ledgers.size()));
    add("sales", *table, sales);
  }

  std::stable_sort(offer.kinds.begin(), offer.kinds.end(),
                   [](const KindRows& a, const KindRows& b) { return a.kind < b.kind; });
  for (const int start : years) {
    offer.years.push_back(YearName(start));
  }
  return offer;
}

}  // namespace lirvo::source
