// Checking what landed: the company's sales vouchers and masters read back from the server with
// collection exports, and compared with the sales table row by row, matched by VoucherID =
// REMOTEID. Without any window; the `lirvo verify` command and `lirvo sync --verify` build on it.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include <lirvo/modTally.h>
#include <lirvo/sync.h>
#include <lirvo/transfer.h>

namespace lirvo::transfer {

// ---------------------------------------------------------------------------------------------
// Reading back

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

// ---------------------------------------------------------------------------------------------
// The comparison

// One field of a voucher that differs: the field's name, the source's value, the books' value.
struct FieldDifference {
  std::string field;
  std::string source;
  std::string books;
};

// The fields in which `books` differs from the voucher the sync sends for `row` (empty: they
// match). Compared: date; reference; party; the party's amount (the gross, negated); tax ledger
// and amount; item, quantity, rate and amount of the inventory line; sales ledger and amount of
// its allocation; and that there is one line of each. Amounts and rates compare as numbers to the
// paisa, quantities as numbers with their unit, names as the server compares them (ASCII letters
// without regard to case, blanks at the ends ignored), the reference with blanks at the ends
// ignored. `row` must pass LocalCheck.
std::vector<FieldDifference> CompareVoucher(const SalesRow& row, const BooksVoucher& books);

// What the verification says about a row, a books voucher or a master.
enum class Outcome {
  kMissing,          // the row's voucher is not in the books
  kDifferent,        // it is, with a field that differs
  kNotInSource,      // a sales voucher in the range whose REMOTEID the source does not expect
  kNotExpected,      // the row fails the local checks, so the sync never sends it
  kMasterMissing,    // a master the vouchers need is not in the books
  kMasterDifferent,  // it is, with another parent or unit
};

// The report's word for an outcome: "missing", "different", "not in source", "not expected",
// "master missing", "master different".
std::string_view OutcomeName(Outcome outcome);

// One line of the report. For kDifferent one finding per differing field.
struct Finding {
  std::string voucher_id;
  long row = 0;  // row number in the table; 0 for a books voucher the source does not hold
  Outcome outcome = Outcome::kMissing;
  std::string field;
  std::string source;
  std::string books;
};

struct VerifyOptions {
  // The server: vouchers are read under its import limits (a range can take as long as an
  // import), masters under its query limits; its cancel flag stops the run.
  modTally::Server server;
  std::string company;  // not empty
  std::filesystem::path database;
  std::optional<SalesRows> rows;       // read instead of `database` when set
  std::string from;                    // YYYYMMDD or empty: the first date in the source
  std::string to;                      // YYYYMMDD or empty: the last date in the source
  int page_rows = 1000;                // source rows per export range, at most about
  std::size_t page_bytes = 8u << 20u;  // a range whose reply is larger is split (when it can be)
  // In the sync's phases: kReading the table's rows, kBooksMasters the books' masters read,
  // kComparing the ranges compared.
  std::function<void(const SyncProgress&)> progress;
  // Receives every finding once all are known, in row order (books vouchers the source does not
  // hold last). Not called when the run stops.
  std::function<void(const Finding&)> finding;
};

struct VerifySummary {
  long rows = 0;           // rows in the table
  long in_range = 0;       // of them, dated in the range (or failing the local checks)
  long matched = 0;        // rows whose voucher the books hold as the sync sends it
  long missing = 0;        // rows whose voucher the books lack
  long different = 0;      // rows whose voucher differs in some field
  long not_in_source = 0;  // books vouchers the source does not expect
  long not_expected = 0;   // rows that fail the local checks (not expected in the books)
  long masters_needed = 0;
  long masters_missing = 0;
  long masters_different = 0;
  long requests = 0;  // export requests sent
  std::string from, to;
  std::chrono::duration<double> time{};
  bool interrupted = false;
  std::optional<std::string> stopped;  // why the verification could not finish

  // kComplete: everything matches; kIncomplete: something does not.
  RunOutcome outcome() const;
};

// Runs the verification. The source rows are streamed once into a temporary SQLite database on
// disk (deleted at the end) indexed by date, so memory stays flat in the table's size; the books
// are read range by range. Never throws for what happens on the way: a failure that stops the run
// is in `stopped`, naming the range. Throws modTally::Failure only for unusable options.
VerifySummary Verify(const VerifyOptions& options);

// The summary for people: the counts one topic a line.
void PrintVerifySummary(std::ostream& out, const VerifySummary& summary);

}  // namespace lirvo::transfer
