// What a run came to, and the exit status each outcome gives: the one table of exit statuses for
// every Lirvo program (the command line, the demo, the stand-in). The libraries report outcomes;
// only programs turn them into statuses.
#pragma once

namespace lirvo {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;        // stopped: nothing more could be done
inline constexpr int kExitUsage = 2;          // the command line is wrong
inline constexpr int kExitRejected = 3;       // done, but some rows are not in the books as sent
inline constexpr int kExitInterrupted = 130;  // Ctrl-C, as shells report SIGINT

enum class RunOutcome {
  kComplete,     // every row is where it should be
  kIncomplete,   // the run ended, with rows rejected, missing or held otherwise
  kStopped,      // a failure ended the run early
  kInterrupted,  // the user stopped it
};

constexpr int ExitStatusOf(RunOutcome outcome) {
  switch (outcome) {
    case RunOutcome::kComplete:
      return kExitOk;
    case RunOutcome::kIncomplete:
      return kExitRejected;
    case RunOutcome::kStopped:
      return kExitFailure;
    case RunOutcome::kInterrupted:
      return kExitInterrupted;
  }
  return kExitFailure;
}

}  // namespace lirvo
