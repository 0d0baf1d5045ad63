// Vouchers in an import: one VOUCHER element checked and applied to the store the way the
// accounting server applies it, and the voucher types the server knows.
#pragma once

#include <cstdint>
#include <string_view>

#include <pugixml.hpp>

#include "masters.h"
#include "store.h"

namespace lirvo::standin {

// The side a voucher type puts its PARTYLEDGERNAME's line on: a debit is a negative amount with
// ISDEEMEDPOSITIVE Yes, a credit a positive one with No.
enum class Side { kEither, kDebit, kCredit };

struct VoucherType {
  std::string_view name;
  Side party = Side::kEither;
  bool order = false;  // each item needs its order number and due date
};

// The voucher types every company of the server holds, the eight that move goods and money with
// their party's side first.
inline constexpr VoucherType kVoucherTypes[] = {
    {"Sales Order", Side::kDebit, true},
    {"Delivery Note", Side::kDebit, false},
    {"Sales", Side::kDebit, false},
    {"Receipt", Side::kDebit, false},  // the cash or bank ledger is the party
    {"Purchase Order", Side::kCredit, true},
    {"Receipt Note", Side::kCredit, false},
    {"Purchase", Side::kCredit, false},
    {"Payment", Side::kCredit, false},  // the cash or bank ledger is the party
    {"Attendance"},
    {"Contra"},
    {"Credit Note"},
    {"Debit Note"},
    {"Job Work In Order"},
    {"Job Work Out Order"},
    {"Journal"},
    {"Material In"},
    {"Material Out"},
    {"Memorandum"},
    {"Payroll"},
    {"Physical Stock"},
    {"Rejections In"},
    {"Rejections Out"},
    {"Reversing Journal"},
    {"Stock Journal"},
};

// The voucher type named `name` (compared case-insensitively, blanks around it ignored); null
// for a type the server does not hold.
const VoucherType* FindVoucherType(std::string_view name);

// Applies one VOUCHER `element` to `company`. The voucher must be of a known type and name
// existing ledgers, stock items and godowns, a YYYYMMDD date, and amounts that add up to zero; an
// order needs its order number and due date on every item; one with the REMOTEID of a stored
// voucher replaces it (Alter of a missing one is refused when `strict`, and Delete always).
// Throws Rejection with the LINEERROR when it is refused, ShapeException when the party's line
// is on the wrong side for its type.
Applied ApplyVoucher(Store& store, bool strict, std::int64_t company,
                     const pugi::xml_node& element);

}  // namespace lirvo::standin
