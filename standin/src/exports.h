// The collection export: a request that defines a collection (TDL in the request) of vouchers,
// ledgers, stock items or units, answered from the store in the accounting server's shape.
//
// Request: ENVELOPE/HEADER with TALLYREQUEST "Export", TYPE "Collection", ID the collection's
// name; BODY/DESC/STATICVARIABLES with SVCURRENTCOMPANY and, for vouchers, SVFROMDATE and
// SVTODATE (YYYYMMDD, both included); BODY/DESC/TDL/TDLMESSAGE/COLLECTION NAME=<the ID> with
// TYPE (Voucher, Ledger, Stock Item, Unit), FETCH (not read: every field below is given), and
// optionally FILTER naming a SYSTEM TYPE="Formulae" in TDLMESSAGE of the form
// `$VoucherTypeName = "Sales"`.
//
// A COLLECTION of TYPE Company lists the open companies (see CompanyCollectionReply).
//
// Reply: ENVELOPE/HEADER (VERSION 1, STATUS 1), BODY/DESC/CMPINFO counting the company's objects
// by kind (COMPANY, GROUP, LEDGER, ..., UNIT, VOUCHER: counts, not objects), BODY/DATA/COLLECTION
// holding one VOUCHER, LEDGER, STOCKITEM or UNIT per object, each leaf with the TYPE attribute the
// server gives it. Vouchers come in date order, values as stored, shaped as the server exports
// them: inventory entries (ALLINVENTORYENTRIES.LIST with their ACCOUNTINGALLOCATIONS.LIST), then
// for an item invoice the ledger entries as sent (LEDGERENTRIES.LIST) and the whole accounting
// view (ALLLEDGERENTRIES.LIST: the party's line again, each allocated ledger with its
// INVENTORYALLOCATIONS.LIST, the other lines); for a voucher without items ALLLEDGERENTRIES.LIST
// alone.
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
  std::string type;     // "VOUCHER", "LEDGER", "STOCKITEM", "UNIT" or "COMPANY"
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
