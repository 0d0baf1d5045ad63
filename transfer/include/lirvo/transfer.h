// The demo's sales transfer without any window: DataToTally's six phases, five of masters and one
// of vouchers, over the Access sample database.
#pragma once

#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include <lirvo/modTally.h>

namespace lirvo::transfer {

inline constexpr int kRowLimit = 5;  // rows handled in each phase

// One of the five master phases: its status heading (spelled as the system always has), the
// SalesMst column whose distinct values it reads, what it makes (for reports), and how it builds
// the request for one value.
struct MasterPhase {
  const char* heading;
  const char* column;
  const char* what;
  std::string (*build)(const std::string& company, const std::string& value);
};

// The master phases in the order the transfer runs them: units, customer ledgers, sales ledgers,
// tax ledgers, stock items.
std::span<const MasterPhase> MasterPhases();
inline constexpr const char* kSuccessMessage = "Data Exported to Tally successfully!!";
inline constexpr const char* kMessageTitle = "Lirvo 1.0 Demo";

// What a transfer that ran through all its phases did.
struct TransferResult {
  int posted = 0;                       // requests posted
  int rejected = 0;                     // of them, rejected by the server
  std::vector<std::string> rejections;  // the first few rejection texts, with phase and row
};

// Receives each status text as the transfer reaches it ("Creaing Units", "Creaing Units - 1", ...).
using StatFn = std::function<void(const std::string& message)>;

// SampleData.mdb in the folder that holds the running executable.
std::filesystem::path DefaultDatabasePath();

// A transfer that stopped part-way. Its description says where and why ("the transfer stopped at
// sales vouchers, row 3 (voucher \"7\"): ..."); posted() is how many requests had been posted
// before it stopped (what they made stays in Tally).
class TransferStopped : public modTally::Failure {
 public:
  TransferStopped(const modTally::Failure& cause, const std::string& where, int posted);
  int posted() const noexcept { return posted_; }

 private:
  int posted_;
};

// Runs the six phases against `database` for `company`, posting to `server` (its encoding, its
// import time limits, its cancel flag: raised, the request in hand is abandoned and the transfer
// stops there) and calling `stat` before each heading and row. Throws TransferStopped, naming the
// phase and row, at the first failure (what was posted before stays posted), and before posting
// anything when `company` is empty (the server named no current company) or the database cannot
// be opened.
TransferResult DataToTally(const modTally::Server& server, const std::string& company,
                           const StatFn& stat, const std::filesystem::path& database);

// DataToTally posting to modTally::TallyUrl (modTally::Server::At).
TransferResult DataToTally(const std::string& company, const StatFn& stat,
                           const std::filesystem::path& database = DefaultDatabasePath());

// The message for a transfer that stopped with `failure`: where and why, then whether anything
// was sent before ("Nothing was sent to Tally." or "The 7 requests sent before it stopped stay in
// Tally."); for a failure that is not a TransferStopped, "The transfer stopped: " and its
// description.
std::string StopMessage(const modTally::Failure& failure);

// The final message: kSuccessMessage when nothing was rejected, otherwise how many requests the
// server rejected and why.
std::string FinalMessage(const TransferResult& result);

}  // namespace lirvo::transfer
