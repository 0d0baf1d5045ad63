// Checking what landed: the company's sales vouchers and masters read back from the server with
// collection exports (lirvo/books/readback.h), and compared with the sales table row by row,
// matched by VoucherID = REMOTEID. Without any window; the `lirvo verify` command builds on it,
// and the sync reads the books back with its scan.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include <lirvo/books/readback.h>
#include <lirvo/books/sales.h>
#include <lirvo/exit_status.h>
#include <lirvo/modTally.h>

namespace lirvo::verify {

// ---------------------------------------------------------------------------------------------
// Progress

// The phases shown: the table's rows checked (while the company's masters are read beside), the
// missing masters created, the vouchers sent; and lirvo verify's: the books' masters read, the
// table compared with the books range by range.
enum class SyncPhase { kReading, kMasters, kVouchers, kBooksMasters, kComparing };

// Where the sync stands: `done` of `total` units of the phase (rows read, masters or vouchers
// sent). While a request is in hand it is told again, a few times a second, with how long the
// request has waited for the server's reply and how many masters or vouchers it carries.
struct SyncProgress {
  SyncPhase phase = SyncPhase::kReading;
  long done = 0;
  long total = 0;
  std::chrono::duration<double> waiting{};  // zero when no request is in hand
  long batch = 0;                           // objects in the request in hand
};

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
std::vector<FieldDifference> CompareVoucher(const books::SalesRow& row,
                                            const books::BooksVoucher& books);

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
  std::string voucher_id;  // a master's name when `table` is set
  long row = 0;  // row number in the table; 0 for a books voucher the source does not hold
  Outcome outcome = Outcome::kMissing;
  std::string field;
  std::string source;
  std::string books;
  std::string table = {};  // a master's table (Ledgers, Units, ...); empty for a voucher
};

struct VerifyOptions {
  // The server: vouchers are read under its import limits (a range can take as long as an
  // import), masters under its query limits; its cancel flag stops the run.
  modTally::Server server;
  std::string company;  // not empty
  std::filesystem::path database;
  std::optional<books::SalesRows> rows;  // read instead of `database` when set
  std::string from;                      // YYYYMMDD or empty: the first date in the source
  std::string to;                        // YYYYMMDD or empty: the last date in the source
  int page_rows = 1000;                  // source rows per export range, at most about
  std::size_t page_bytes = 8u << 20u;    // a range whose reply is larger is split (when it can be)
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

}  // namespace lirvo::verify
