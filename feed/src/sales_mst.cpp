// SalesMst read as Vouchers and VoucherLines (sales_mst.h): one reading of the table shared by the
// two when they are read alongside, and the masters its rows imply gathered on the way; one piece
// of a little over 400 lines.
#include "sales_mst.h"

#include <algorithm>
#include <array>
#include <deque>
#include <limits>
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

// The value of `column` in a row of SalesMst read with the columns `at` (NULL when it lacks it).
const Value& SaleValue(const std::vector<Value>& values, const SalesColumns& at, Column column) {
  static const Value kNull;
  return at[column] ? values[*at[column]] : kNull;
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

// The masters SalesMst's rows dated in `range` imply, each once by kind and name, on the first row
// that names it, added to `into` as the rows are first read.
class Gather {
 public:
  Gather(std::string table, const std::optional<source::DateRange>& range,
         std::deque<ImpliedMaster>& into)
      : table_(std::move(table)), range_(range), into_(into) {}

  void Add(long row, const std::vector<Value>& values, const SalesColumns& at) {
    const auto value = [&](Column column) -> const Value& { return SaleValue(values, at, column); };
    if (range_) {
      const Value& date = value(kVoucherDate);
      const auto day = date ? source::ParseDate(text::Trim(*date)) : std::nullopt;
      if (day && !range_->Contains(*day)) {
        return;
      }
    }
    const Value& unit = value(kUnit);
    Imply(row, books::MasterKind::kUnit, unit, "");
    Imply(row, books::MasterKind::kStockItem, value(kItemName), text::Trim(unit.value_or("")));
    for (const auto& [column, parent] :
         {std::pair{kPartyName, "Sundry Debtors"}, std::pair{kSalesLedger, "Sales Accounts"},
          std::pair{kTaxAc, "Duties & Taxes"}}) {
      Imply(row, books::MasterKind::kLedger, value(column), parent);
    }
  }

 private:
  // Adds the master `name` names, under `under`, unless it was met before: most rows name masters
  // met already, nearly always spelt as before, so a spelling met is passed over before the name
  // is folded into its key.
  void Imply(long row, books::MasterKind kind, const Value& name, std::string_view under) {
    if (!name || !spelt_[IndexOf(kind)].insert(*name) || text::Trim(*name).empty() ||
        !named_[IndexOf(kind)].insert(Key(*name)).second) {
      return;
    }
    into_.push_back({kind, std::string(text::Trim(*name)), std::string(under), table_, row});
  }

  std::string table_;
  std::optional<source::DateRange> range_;
  std::deque<ImpliedMaster>& into_;
  Spelt spelt_;  // as the rows spell them
  Names named_;  // by Key
};

}  // namespace

// Built as MasterFromRow builds a master from a row of these fields, without going through one;
// in place, since a source's sales imply thousands.
books::MasterRecord ImpliedMaster::Record() const {
  books::MasterRecord record;
  switch (kind) {
    case books::MasterKind::kStockItem: {
      auto& master = record.emplace<modTallyIm::StockItemMaster>();
      master.Name = name;
      master.BaseUnits = under;
      master.CostingMethod = "Avg. Cost";
      master.ValuationMethod = "Avg. Price";
      master.Denominator = "1";
      break;
    }
    case books::MasterKind::kLedger: {
      auto& master = record.emplace<modTallyIm::LedgerMaster>();
      master.Name = name;
      master.Parent = under;
      break;
    }
    default: {
      auto& master = record.emplace<modTallyIm::UnitMaster>();
      master.Name = name;
      master.IsSimpleUnit = "Yes";
      master.DecimalPlaces = "2";
    }
  }
  return record;
}

namespace {

// SalesMst read once for Vouchers and VoucherLines read alongside (sides 0 and 1): the rows one
// side has reached and the other not yet are kept here, a few as the two go in step. A side that
// falls kBehind rows back, or begins once rows are let go, reads the table again on its own.
class SalesStream {
 public:
  struct Row {
    long number = 0;
    std::vector<Value> values;
  };
  static constexpr std::size_t kBehind = 4096;

  SalesStream(source::Source& source, std::string sales, long limit, Gather& gather)
      : source_(source), sales_(std::move(sales)), limit_(limit), gather_(gather) {}

  // Whether `side` can still begin here.
  bool Joinable(int side) const { return !used_[side] && base_ == 0; }

  // Begins `side` at the first row, which is kept for it from now on; the table's columns.
  const SalesColumns& Join(int side) {
    used_[side] = reading_[side] = true;
    Open();
    return at_;
  }

  // Row `n` (from 0) for `side` (joined), which no longer needs the rows before it; null past
  // the last.
  const Row* At(int side, std::size_t n) {
    if (!alone_[side] && n < base_) {
      alone_[side] = source_.Read(sales_);
      Leave(side);
    }
    if (alone_[side]) {
      return Alone(side, n);
    }
    reached_[side] = n;
    LetGo();
    while (n >= base_ + rows_.size()) {
      if (!ReadOne()) {
        return nullptr;
      }
      const int other = 1 - side;
      if (rows_.size() > kBehind && reading_[other]) {
        Leave(other);  // its rows are let go: it reads on its own
      }
    }
    return &rows_[n - base_];
  }

  void Leave(int side) {
    reading_[side] = false;
    LetGo();
  }

 private:
  void Open() {
    if (!rows_read_) {
      rows_read_ = source_.Read(sales_);
      at_ = SalesPositions(*rows_read_);
    }
  }

  bool ReadOne() {
    Open();
    if (ended_ || (limit_ > 0 && read_ >= limit_) || !rows_read_->Next()) {
      ended_ = true;  // a reading is not stepped past its end
      return false;
    }
    ++read_;
    rows_.push_back({rows_read_->RowNumber(), rows_read_->Values()});
    gather_.Add(rows_.back().number, rows_.back().values, at_);
    return true;
  }

  // Lets go of the rows that every side reading here has passed.
  void LetGo() {
    std::size_t keep = std::numeric_limits<std::size_t>::max();
    for (int side = 0; side < 2; ++side) {
      if (reading_[side]) {
        keep = std::min(keep, reached_[side]);
      }
    }
    while (!rows_.empty() && base_ < keep) {
      rows_.pop_front();
      ++base_;
    }
  }

  // Row `n` of the side's own reading of the table (its rows the shared reading gathered from).
  const Row* Alone(int side, std::size_t n) {
    Row& row = alone_row_[side];
    source::Rows& rows = *alone_[side];
    while (alone_read_[side] <= n) {
      if (alone_ended_[side] ||
          (limit_ > 0 && alone_read_[side] >= static_cast<std::size_t>(limit_)) || !rows.Next()) {
        alone_ended_[side] = true;
        return nullptr;
      }
      if (++alone_read_[side] > n) {
        row = {rows.RowNumber(), rows.Values()};
      }
    }
    return &row;
  }

  source::Source& source_;
  std::string sales_;
  long limit_;
  Gather& gather_;
  std::unique_ptr<Rows> rows_read_;
  SalesColumns at_;
  long read_ = 0;
  bool ended_ = false;
  std::deque<Row> rows_;
  std::size_t base_ = 0;  // the number of the first row kept
  std::array<bool, 2> used_{}, reading_{}, alone_ended_{};
  std::array<std::size_t, 2> reached_{};
  std::array<std::unique_ptr<Rows>, 2> alone_;
  std::array<std::size_t, 2> alone_read_{};
  std::array<Row, 2> alone_row_;
};

// Vouchers or VoucherLines: the source's own rows (if it has the table), then SalesMst's, each row
// with the columns of the source's table and those of the layout it lacks.
class WithSales final : public Rows {
 public:
  WithSales(std::string table, std::vector<std::string> columns, std::unique_ptr<Rows> own,
            std::shared_ptr<SalesStream> sales, bool lines)
      : Rows(std::move(table), std::move(columns)),
        own_(std::move(own)),
        sales_(std::move(sales)),
        from_(sales_->Join(lines ? 1 : 0)),
        lines_(lines) {
    for (std::size_t i = 0; i < Count(); ++i) {
      to_[i] = Find(lines ? kLineColumns[i] : kVoucherColumns[i]);
    }
  }
  ~WithSales() override { sales_->Leave(Side()); }
  WithSales(const WithSales&) = delete;
  WithSales& operator=(const WithSales&) = delete;

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
      sale_ = sales_->At(Side(), next_ - 1);  // where it is kept now
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
    sale_ = sales_->At(Side(), next_++);
    if (sale_ == nullptr) {
      return false;
    }
    row_number_ = kSalesMstRows + sale_->number;
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
  int Side() const { return lines_ ? 1 : 0; }
  const Value& Sale(Column column) const { return SaleValue(sale_->values, from_, column); }
  std::size_t Count() const { return lines_ ? kLineColumns.size() : kVoucherColumns.size(); }

  // Puts the layout's values (in the order of kLineColumns or kVoucherColumns) in their places.
  void Fill(const std::array<Value, kLineColumns.size()>& values) {
    values_.assign(columns_.size(), std::nullopt);
    for (std::size_t i = 0; i < Count(); ++i) {
      values_[*to_[i]] = values[i];
    }
  }

  std::unique_ptr<Rows> own_;
  std::shared_ptr<SalesStream> sales_;
  SalesColumns from_;
  std::array<std::optional<std::size_t>, kLineColumns.size()> to_{};
  bool lines_;
  std::size_t next_ = 0;                    // the next row of SalesMst
  const SalesStream::Row* sale_ = nullptr;  // the row read, until the next call of At
  bool tax_line_ = false;                   // line 2 of the row read is yet to come
};

class SalesMstAdded final : public source::Source {
 public:
  SalesMstAdded(source::Source& source, std::string sales, long limit,
                const std::optional<source::DateRange>& range, std::deque<ImpliedMaster>& implied)
      : source_(source), sales_(std::move(sales)), limit_(limit), gather_(sales_, range, implied) {}

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
    // Read alongside the other layout table, the two share one reading of SalesMst.
    std::shared_ptr<SalesStream> stream = stream_.lock();
    if (!stream || !stream->Joinable(*lines ? 1 : 0)) {
      stream = std::make_shared<SalesStream>(source_, sales_, limit_, gather_);
      stream_ = stream;
    }
    return std::make_unique<WithSales>(own.value_or(table), Columns(table),
                                       own ? source_.Read(*own) : nullptr, stream, *lines);
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
  Gather gather_;
  std::weak_ptr<SalesStream> stream_;
};

}  // namespace

std::unique_ptr<source::Source> WithSalesMst(source::Source& source, std::string sales, long limit,
                                             const std::optional<source::DateRange>& range,
                                             std::deque<ImpliedMaster>& implied) {
  return std::make_unique<SalesMstAdded>(source, std::move(sales), limit, range, implied);
}

}  // namespace lirvo::feed
