// SalesMst, the demo's table of sales, read as documents: each row one sales voucher whose item is
// its first line and whose tax its second, fed beside the source's own Vouchers; and the units,
// stock items and ledgers its rows imply.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <lirvo/feed.h>
#include <lirvo/source.h>

namespace lirvo::feed {

// Among the documents fed, row N of SalesMst is numbered kSalesMstRows + N, after every row of
// Vouchers.
inline constexpr long kSalesMstRows = 1L << 31;

// `source` whose Vouchers and VoucherLines go on, after their own rows, with SalesMst's (the
// table `sales`, its first `limit` rows; 0: all). A row of SalesMst is a voucher of type Sales
// numbered with its VoucherID, dated VoucherDate, referenced RefNo, with the party PartyName;
// line 1 is ItemName under SalesLedger (Qty, Unit, Rate, Amount), line 2 the tax under TaxAc:
// Amount × TaxPer / 100, none when either is not a number. A column SalesMst lacks reads as NULL.
// Every other table is the source's. Vouchers and VoucherLines read alongside share one reading
// of SalesMst.
//
// As its rows are first read, the masters those dated in `range` imply are added to `implied`,
// each once by kind and name, on the first row that names it: its units (two decimal places), its
// stock items (in their unit, at average cost and price), its parties under Sundry Debtors, its
// sales ledgers under Sales Accounts and its tax ledgers under Duties & Taxes; they are all there
// once the documents are read. `source` and `implied` must outlive what is returned.
std::unique_ptr<source::Source> WithSalesMst(source::Source& source, std::string sales, long limit,
                                             const std::optional<source::DateRange>& range,
                                             std::deque<ImpliedMaster>& implied);

}  // namespace lirvo::feed
