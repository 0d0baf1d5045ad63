// What every sync shares: the journal's place, the batch sizes, the server's current company and
// the progress line (lirvo::feed moves the rows; lirvo/sync/fed_journal.h is the journal and
// lirvo/sync/post.h the posting of batches).
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <lirvo/exit_status.h>
#include <lirvo/modTally.h>
#include <lirvo/verify.h>

namespace lirvo::sync {

// The progress the sync shows is the verification's, whose phases include the sync's.
using verify::SyncPhase;
using verify::SyncProgress;

// ---------------------------------------------------------------------------------------------
// The journal's place

// $XDG_STATE_HOME/lirvo/sync-journal.sqlite, or ~/.local/state/lirvo/sync-journal.sqlite when
// XDG_STATE_HOME is not set (relative paths are ignored as the XDG rules say). Throws
// modTally::Failure (kSetting) when neither names a folder.
std::filesystem::path DefaultJournalPath();

// ---------------------------------------------------------------------------------------------
// The sync

// The batch size used when none is given. Measured with lirvo-bench's X5_SyncBatchSizes (the
// whole of sales-20k into the stand-in): 25, 50, 100, 200, 400 took 4.7, 3.1, 2.8, 2.3, 2.2 s.
// 200 is within a tenth of the best, and half the size of a request of 400: a batch that fails
// costs less to split, and it stays within the few hundred vouchers a request that integrators
// of the real server report as safe.
inline constexpr int kDefaultBatch = 200;
inline constexpr int kLargestBatch = 500;

// The company that is current in the server at `url` ("" when it names none). Throws
// modTally::Failure when the query fails or the reply is not its answer (an HTTP error, a web
// page, a LINEERROR: see modTally::ReadExportReply).
std::string CurrentCompany(const modTally::Server& server);

// Shows SyncProgress on a stream: on a terminal one line rewritten with "\r" (phase, done of
// total, rate, time left), at most ten times a second; elsewhere a plain line at each phase's
// start and end, and in between at least every 10 % or 5 s. A request that has waited a second or
// more for its reply adds "waiting 35 s for the server's reply to 200 vouchers" (on a pipe, a line
// when the wait passes a second, then every 5 s).
class ProgressPrinter {
 public:
  ProgressPrinter(std::ostream& out, bool terminal);
  void Show(const SyncProgress& progress);
  // Ends a rewritten line so that what follows starts on a line of its own.
  void Finish();

 private:
  using Clock = std::chrono::steady_clock;
  // The line for `progress` without the wait: phase, done of total, rate, time left.
  std::string Line(const SyncProgress& progress, Clock::time_point now) const;
  void ShowWait(const SyncProgress& progress);
  void Emit(std::string line);

  std::ostream& out_;
  bool terminal_;
  SyncPhase phase_ = SyncPhase::kReading;
  bool started_ = false;
  Clock::time_point phase_start_{};
  Clock::time_point last_shown_{};
  long last_done_ = 0;
  std::size_t line_width_ = 0;
  double wait_told_ = 0;  // the wait last shown for the request in hand, in seconds
};

}  // namespace lirvo::sync
