#include "sales_mst.h"

#include <algorithm>
#include <array>
#include <unordered_set>
#include <utility>

#include <lirvo/books/sales.h>
#include <lirvo/source_layout.h>
#include <lirvo/text.h>

#include "held.h"
#include "line_runs.h"

namespace lirvo::feed {

namespace {

using source::Rows;
using source::Value;

// SalesMst's columns, as kSalesMstColumns orders them.
enum Column : std::size_t {
  kVoucherId,
  kVoucherDate,
  kRefNo,
  kPartyName,
  kSalesLedger,
  kTaxAc,
  kItemName,
  kUnit,
  kQty,
  kRate,
  kAmount,
  kTaxPer
};
using SalesColumns = std::array<std::optional<std::size_t>, std::size(books::kSalesMstColumns)>;

SalesColumns SalesPositions(const Rows& rows) {
  SalesColumns at;
  for (std::size_t i = 0; i < at.size(); ++i) {
    at[i] = rows.Find(books::kSalesMstColumns[i].second);
  }
  return at;
}

const Value& ValueOf(const Rows& rows, const std::optional<std::size_t>& at) {
  static const Value kNull;
  return at ? rows.Values()[*at] : kNull;
}

// The tax of the row: Amount × TaxPer / 100 as a sales voucher's figures have always made it.
Value Tax(const Value& amount, const Value& tax_percent) {
  books::SalesRow row;
  row.Amount = amount;
  row.TaxPer = tax_percent;
  if (!amount || !tax_percent || tax_percent->find_first_of("0123456789") == std::string::npos) {
    return std::nullopt;
  }
  try {
    return books::FormatAmount(books::VoucherFigures(row).tax);
  } catch (const modTally::Failure&) {
    return std::nullopt;  // too large: the line's check says so
  }
}

// Vouchers or VoucherLines: the source's own rows (if it has the table), then SalesMst's, each row
// with the columns of the source's table and those of the layout it lacks.
class WithSales final : public Rows {
 public:
  WithSales(std::string table, std::vector<std::string> columns, std::unique_ptr<Rows> own,
            std::unique_ptr<Rows> sales, bool lines, long limit)
      : Rows(std::move(table), std::move(columns)),
        own_(std::move(own)),
        sales_(std::move(sales)),
        from_(SalesPositions(*sales_)),
        lines_(lines),
        limit_(limit) {
    for (std::size_t i = 0; i < Count(); ++i) {
      to_[i] = Find(lines ? kLineColumns[i] : kVoucherColumns[i]);
    }
  }

  bool Next() override {
    if (own_) {
      if (own_->Next()) {
        values_ = own_->Values();
        values_.resize(columns_.size());
        row_number_ = own_->RowNumber();
        return true;
      }
      own_.reset();
    }
    if (lines_ && tax_line_) {
      tax_line_ = false;
      Fill({Sale(kVoucherId),
            "2",
            Sale(kTaxAc),
            {},
            {},
            {},
            {},
            {},
            Tax(Sale(kAmount), Sale(kTaxPer))});
      return true;
    }
    if ((limit_ > 0 && sales_->RowNumber() >= limit_) || !sales_->Next()) {
      return false;
    }
    row_number_ = kSalesMstRows + sales_->RowNumber();
    const Value& id = Sale(kVoucherId);
    if (lines_) {
      tax_line_ = true;
      Fill({id,
            "1",
            Sale(kSalesLedger),
            Sale(kItemName),
            {},
            Sale(kQty),
            Sale(kUnit),
            Sale(kRate),
            Sale(kAmount)});
    } else {
      Fill({id, "Sales", Sale(kVoucherDate), id, Sale(kRefNo), Sale(kPartyName), {}, {}, {}});
    }
    return true;
  }

 private:
  const Value& Sale(Column column) const { return ValueOf(*sales_, from_[column]); }
  std::size_t Count() const { return lines_ ? kLineColumns.size() : kVoucherColumns.size(); }

  // Puts the layout's values (in the order of kLineColumns or kVoucherColumns) in their places.
  void Fill(const std::array<Value, kLineColumns.size()>& values) {
    values_.assign(columns_.size(), std::nullopt);
    for (std::size_t i = 0; i < Count(); ++i) {
      values_[*to_[i]] = values[i];
    }
  }

  std::unique_ptr<Rows> own_;
  std::unique_ptr<Rows> sales_;
  SalesColumns from_;
  std::array<std::optional<std::size_t>, kLineColumns.size()> to_{};
  bool lines_;
  long limit_;
  bool tax_line_ = false;  // line 2 of the row read is yet to come
};

class SalesMstAdded final : public source::Source {
 public:
  SalesMstAdded(source::Source& source, std::string sales, long limit)
      : source_(source), sales_(std::move(sales)), limit_(limit) {}

  const std::string& name() const override { return source_.name(); }

  std::vector<std::string> Tables() override {
    std::vector<std::string> tables = source_.Tables();
    for (const std::string_view layout : {source::kVouchersTable, source::kVoucherLinesTable}) {
      if (!source_.FindTable(layout)) {
        tables.emplace_back(layout);
      }
    }
    return tables;
  }

  std::vector<std::string> Columns(const std::string& table) override {
    const std::optional<bool> lines = LayoutTable(table);
    if (!lines) {
      return source_.Columns(table);
    }
    const std::optional<std::string> own = Own(*lines);
    std::vector<std::string> columns = own ? source_.Columns(*own) : std::vector<std::string>{};
    const auto add = [&columns](const auto& layout) {
      for (const char* column : layout) {
        if (std::none_of(columns.begin(), columns.end(), [column](const std::string& c) {
              return text::EqualsNoCase(c, column);
            })) {
          columns.emplace_back(column);
        }
      }
    };
    *lines ? add(kLineColumns) : add(kVoucherColumns);
    return columns;
  }

  std::int64_t RowCount(const std::string& table) override {
    const std::optional<bool> lines = LayoutTable(table);
    if (!lines) {
      return source_.RowCount(table);
    }
    const std::optional<std::string> own = Own(*lines);
    std::int64_t sales = source_.RowCount(sales_);
    sales = limit_ > 0 ? std::min<std::int64_t>(sales, limit_) : sales;
    return (own ? source_.RowCount(*own) : 0) + (*lines ? 2 : 1) * sales;
  }

  std::unique_ptr<Rows> Read(const std::string& table) override {
    const std::optional<bool> lines = LayoutTable(table);
    if (!lines) {
      return source_.Read(table);
    }
    const std::optional<std::string> own = Own(*lines);
    return std::make_unique<WithSales>(own.value_or(table), Columns(table),
                                       own ? source_.Read(*own) : nullptr, source_.Read(sales_),
                                       *lines, limit_);
  }

  bool ReadsTablesAtOnce() const override { return source_.ReadsTablesAtOnce(); }

 private:
  // Whether `table` is VoucherLines (true) or Vouchers (false); nothing for another table.
  static std::optional<bool> LayoutTable(const std::string& table) {
    if (text::EqualsNoCase(table, source::kVouchersTable)) {
      return false;
    }
    if (text::EqualsNoCase(table, source::kVoucherLinesTable)) {
      return true;
    }
    return std::nullopt;
  }
  std::optional<std::string> Own(bool lines) {
    return source_.FindTable(lines ? source::kVoucherLinesTable : source::kVouchersTable);
  }

  source::Source& source_;
  std::string sales_;
  long limit_;
};

}  // namespace

std::unique_ptr<source::Source> WithSalesMst(source::Source& source, std::string sales,
                                             long limit) {
  return std::make_unique<SalesMstAdded>(source, std::move(sales), limit);
}

std::vector<ImpliedMaster> SalesMstMasters(source::Source& source, const std::string& sales,
                                           const std::optional<source::DateRange>& range,
                                           long limit) {
  const std::unique_ptr<Rows> rows =
      range ? source.ReadDated(sales, "VoucherDate", *range) : source.Read(sales);
  const SalesColumns at = SalesPositions(*rows);
  std::vector<ImpliedMaster> implied;
  Names named;
  const auto imply = [&](books::MasterKind kind, const Value& name,
                         books::SourceRow fields) -> void {
    if (!name || text::Trim(*name).empty() || !named[IndexOf(kind)].insert(Key(*name)).second) {
      return;
    }
    fields.insert(fields.begin(), {"Name", *name});
    try {
      implied.push_back(
          {books::MasterFromRow(kind, fields), sales, static_cast<long>(rows->RowNumber())});
    } catch (const modTally::Failure&) {
      // A name no master can have: the documents naming it are rejected for want of it.
    }
  };
  while ((limit == 0 || rows->RowNumber() < limit) && rows->Next()) {
    const Value& unit = ValueOf(*rows, at[kUnit]);
    imply(books::MasterKind::kUnit, unit, {{"IsSimpleUnit", "Yes"}, {"DecimalPlaces", "2"}});
    imply(books::MasterKind::kStockItem, ValueOf(*rows, at[kItemName]),
          {{"BaseUnits", unit.value_or("")},
           {"CostingMethod", "Avg. Cost"},
           {"ValuationMethod", "Avg. Price"},
           {"Denominator", "1"}});
    imply(books::MasterKind::kLedger, ValueOf(*rows, at[kPartyName]),
          {{"Parent", "Sundry Debtors"}});
    imply(books::MasterKind::kLedger, ValueOf(*rows, at[kSalesLedger]),
          {{"Parent", "Sales Accounts"}});
    imply(books::MasterKind::kLedger, ValueOf(*rows, at[kTaxAc]), {{"Parent", "Duties & Taxes"}});
  }
  return implied;
}

}  // namespace lirvo::feed
