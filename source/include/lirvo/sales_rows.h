// SalesMst's rows from any source, as the sync and the verification read them.
#pragma once

#include <memory>
#include <optional>

#include <lirvo/books/sales.h>
#include <lirvo/source.h>

namespace lirvo::source {

// The rows of `source`'s SalesMst (or a view of that name, compared without regard to case) as
// the sync reads rows: each column by its name (one the table lacks reads as NULL), a date in any
// form ParseDate takes written YYYYMMDD, every other value as the source gives it. What is
// returned keeps the source open as long as any copy of it lives. Throws Error when the source
// has no SalesMst. With `range`, only the rows whose VoucherDate lies in it (a date that does not
// read as one is passed on, for the sync's checks to reject); they are counted by reading them.
books::SalesRows SalesRowsOf(std::shared_ptr<Source> source,
                             const std::optional<DateRange>& range = std::nullopt);

}  // namespace lirvo::source
