// What a sync or a verification tells as it goes: its progress, and what a verification finds
// (lirvo::feed::VerifySource compares a source with the books).
#pragma once

#include <chrono>
#include <string>
#include <string_view>

namespace lirvo::verify {

// ---------------------------------------------------------------------------------------------
// Progress

// The phases shown: the rows checked (a dry run), the masters created, the vouchers sent.
enum class SyncPhase { kReading, kMasters, kVouchers };

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

}  // namespace lirvo::verify
