// Vouchers in an import: one VOUCHER element checked and applied to the store the way the
// accounting server applies it.
#pragma once

#include <cstdint>

#include <pugixml.hpp>

#include "masters.h"
#include "store.h"

namespace lirvo::standin {

// Applies one VOUCHER `element` to `company`. The voucher must name existing ledgers and stock
// items, a YYYYMMDD date, and amounts that add up to zero; one with the REMOTEID of a stored
// voucher replaces it (Alter of a missing one is refused when `strict`, and Delete always).
// Throws Rejection with the LINEERROR when it is refused.
Applied ApplyVoucher(Store& store, bool strict, std::int64_t company,
                     const pugi::xml_node& element);

}  // namespace lirvo::standin
