// Reading the books back: the company's sales vouchers and masters as collection exports give
// them, tolerant of the shapes server versions write.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include <lirvo/modTally.h>

namespace lirvo::books {

// A ledger line: a ledger entry of a voucher, or an accounting allocation of an inventory line.
// Values are the texts the server gave, trimmed.
struct BooksLedgerLine {
  std::string ledger;
  std::string amount;
  std::string deemed_positive;  // "Yes", "No" or "" when not given
};

struct BooksInventoryLine {
  std::string item;
  std::string quantity;  // ACTUALQTY, or BILLEDQTY when that is all there is: " 2 Nos"
  std::string rate;      // "600.00/Nos"
  std::string amount;
  std::vector<BooksLedgerLine> allocations;
};

// A sales voucher as the books hold it.
struct BooksVoucher {
  std::string remote_id;  // REMOTEID (attribute or element), else GUID
  std::string date;       // YYYYMMDD
  std::string reference;
  std::string party;
  std::vector<BooksLedgerLine> ledgers;  // ALLLEDGERENTRIES.LIST or LEDGERENTRIES.LIST
  std::vector<BooksInventoryLine> inventory;
};

enum class MasterType { kLedger, kStockItem, kUnit };

struct BooksMaster {
  std::string name;
  std::string parent;      // ledgers and stock items
  std::string base_units;  // stock items
};

// The collection export of the vouchers of type `type` of `company` dated `from` to `to`
// (YYYYMMDD, both included), and of every master of `type`.
std::string VoucherExportRequest(const std::string& company, std::string_view from,
                                 std::string_view to, std::string_view type = "Sales");
std::string MasterExportRequest(const std::string& company, MasterType type);
// The export of every object of the collection type `type` ("Godown", "Stock Group", ...) of
// `company`, with the fields `fetch` ("Name, Parent").
std::string CollectionRequest(const std::string& company, std::string_view type,
                              std::string_view fetch);

// Reads a reply to those requests. Tolerant of the shapes server versions give (objects anywhere
// under ENVELOPE, in COLLECTION or TALLYMESSAGE; leaves with or without TYPE attributes; either
// spelling of the entry lists); vouchers of another type, or dated outside [from, to] when both
// are given, are left out. Throws modTally::Failure (kDocument) whose text starts with `what` when
// the reply is an HTTP error, not XML (cut short, malformed), not an ENVELOPE, holds a LINEERROR,
// a HEADER/STATUS other than 1, or no collection at all.
std::vector<BooksVoucher> ReadVoucherReply(const modTally::Reply& reply, const std::string& what,
                                           std::string_view from = {}, std::string_view to = {});
std::vector<BooksMaster> ReadMasterReply(const modTally::Reply& reply, MasterType type,
                                         const std::string& what);

// Posts the export of the masters of `type` to `server` and reads the reply as above; failures name
// the server, the company and the kind of master.
std::vector<BooksMaster> FetchMasters(const modTally::Server& server, const std::string& company,
                                      MasterType type, const modTally::ExchangeLimits& limits);

}  // namespace lirvo::books
