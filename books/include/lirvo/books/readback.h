// Reading the books back: the collection exports of the company's documents and masters.
#pragma once

#include <string>
#include <string_view>

namespace lirvo::books {

// The collection export of the vouchers of type `type` of `company` dated `from` to `to`
// (YYYYMMDD, both included).
std::string VoucherExportRequest(const std::string& company, std::string_view from,
                                 std::string_view to, std::string_view type = "Sales");
// The export of every object of the collection type `type` ("Godown", "Stock Group", ...) of
// `company`, with the fields `fetch` ("Name, Parent").
std::string CollectionRequest(const std::string& company, std::string_view type,
                              std::string_view fetch);

}  // namespace lirvo::books
