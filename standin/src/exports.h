// The collection export: a request that defines a collection (TDL in the request) of vouchers or
// masters of any kind the stand-in keeps, answered from the store in the accounting server's shape.
//
// Request: ENVELOPE/HEADER with TALLYREQUEST "Export", TYPE "Collection", ID the collection's
// name; BODY/DESC/STATICVARIABLES with SVCURRENTCOMPANY and, for vouchers, SVFROMDATE and
// SVTODATE (YYYYMMDD, both included); BODY/DESC/TDL/TDLMESSAGE/COLLECTION NAME=<the ID> with
// TYPE (Voucher, Ledger, Group, Stock Item, Stock Group, Godown, Unit, Company), FETCH (not read:
// every field below is given), and for vouchers optionally FILTER: comma-separated names of
// SYSTEM TYPE="Formulae" in TDLMESSAGE, each either `$VoucherTypeName = "Sales"` (the voucher
// type, compared case-insensitively) or the period `($Date >= ##SVFROMDATE) AND ($Date <=
// ##SVTODATE)`. The vouchers of one type may also be asked for as TYPE "Vouchers : VoucherType"
// with the type in CHILDOF.
//
// A COLLECTION of TYPE Company lists the open companies (see CompanyCollectionReply).
//
// Reply: ENVELOPE/HEADER (VERSION 1, STATUS 1), BODY/DESC/CMPINFO counting the company's objects
// by kind (COMPANY, GROUP, LEDGER, ..., VOUCHERTYPE, UNIT, VOUCHER: counts, not objects, the
// predefined masters included), BODY/DATA/COLLECTION holding one VOUCHER, LEDGER, GROUP, STOCKITEM,
// STOCKGROUP, GODOWN or UNIT per object, each leaf with the TYPE attribute the server gives it.
// Masters come in the order created, the predefined ones first: NAME, PARENT (a unit:
// ISSIMPLEUNIT), a stock item's BASEUNITS, then every other value stored (a compound unit's
// BASEUNITS, ADDITIONALUNITS, CONVERSION). Vouchers come in date order, values as stored, shaped
// as the server exports them: OBJVIEW and PERSISTEDVIEW ("Invoice Voucher View" with items,
// "Accounting Voucher View" without), ISINVOICE (Yes for a Sales or Purchase with items, with
// VCHENTRYMODE "Item Invoice"); inventory entries (ALLINVENTORYENTRIES.LIST with their
// ACCOUNTINGALLOCATIONS.LIST and BATCHALLOCATIONS.LIST: GODOWNNAME, BATCHNAME, ORDERNO,
// TRACKINGNUMBER, ORDERDUEDATE), then for a voucher with items the ledger entries as sent
// (LEDGERENTRIES.LIST) and the whole accounting view (ALLLEDGERENTRIES.LIST: the party's line
// again, each allocated ledger with its INVENTORYALLOCATIONS.LIST, the other lines); for a voucher
// without items ALLLEDGERENTRIES.LIST alone, the party's line first. Every ledger line says
// ISPARTYLEDGER.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <pugixml.hpp>

#include <lirvo/standin/service.h>

#include "store.h"

namespace lirvo::standin {

struct CollectionRequest {
  std::string company;  // SVCURRENTCOMPANY as sent
  std::string type;     // "VOUCHER", "COMPANY" or a master element ("LEDGER", "GODOWN", ...)
  VoucherFilter vouchers;
};

// Appends BODY/DESC/CMPINFO: the counters of what `company` holds, one element per kind.
void AppendCompanyCounts(std::string& out, Store& store, std::int64_t company);

// Whether `envelope` asks for a collection export (its HEADER/TYPE is "Collection").
bool IsCollectionExport(const pugi::xml_node& envelope);

// The collection `envelope` asks for; nothing when the stand-in cannot answer it (an unknown
// TYPE, no COLLECTION of the ID's name, a date that is not YYYYMMDD, a filter it does not know).
std::optional<CollectionRequest> ReadCollectionRequest(const pugi::xml_node& envelope);

// The reply to `request` for `company` in `store`. Throws StoreError.
HttpReply CollectionReply(Store& store, std::int64_t company, const CollectionRequest& request);

// The Company collection: one COMPANY NAME="..." with NAME and STARTINGFROM per open company, in
// order, under ENVELOPE/BODY/DATA/COLLECTION. STARTINGFROM is 1 April 2016 for every company: the
// stand-in keeps no financial year.
HttpReply CompanyCollectionReply(const std::vector<std::string>& companies);

}  // namespace lirvo::standin
