// What the sync shows people: the progress line on stderr and the summary at the end.
#include <lirvo/sync.h>

#include <cmath>
#include <cstdio>

namespace lirvo::sync {

namespace {

const char* PhaseName(SyncPhase phase) {
  switch (phase) {
    case SyncPhase::kReading:
      return "checking rows";
    case SyncPhase::kMasters:
      return "creating masters";
    case SyncPhase::kVouchers:
      return "sending vouchers";
    case SyncPhase::kBooksMasters:
      return "reading the company's masters";
    case SyncPhase::kComparing:
      return "comparing with the books";
  }
  return "";
}

std::string Duration(double seconds) {
  char text[32];
  if (seconds < 60) {
    std::snprintf(text, sizeof text, "%.1f s", seconds);
  } else {
    const long whole = std::lround(seconds);
    std::snprintf(text, sizeof text, "%ld:%02ld min", whole / 60, whole % 60);
  }
  return text;
}

std::string Masters(const char* what, const MasterCounts& counts, bool dry_run) {
  std::string line = std::string(what) + " " + std::to_string(counts.needed) + " needed, " +
                     std::to_string(counts.present) + " already present, " +
                     std::to_string(counts.created) + (dry_run ? " to create" : " created");
  if (counts.failed > 0) {
    line += ", " + std::to_string(counts.failed) + " refused by the server";
  }
  return line;
}

}  // namespace

void PrintSummary(std::ostream& out, const SyncSummary& s) {
  out << (s.dry_run ? "Dry run: nothing was sent.\n" : "");
  out << "Rows:     " << s.rows << " in the table\n";
  out << "Masters:  " << Masters("units", s.units, s.dry_run) << "\n          "
      << Masters("ledgers", s.ledgers, s.dry_run) << "\n          "
      << Masters("stock items", s.items, s.dry_run) << '\n';
  for (const std::string& failure : s.master_failures) {
    out << "          refused: " << failure << '\n';
  }
  const std::string unchanged =
      std::to_string(s.unchanged) +
      (s.books_checked ? " already in the books as in the source"
                       : " unchanged since accepted (the journal's word: the books were not read)");
  if (s.dry_run) {
    out << "Vouchers: " << s.accepted << " to send, " << s.rejected_locally
        << " rejected by the local checks, " << unchanged << '\n';
  } else {
    out << "Vouchers: " << s.accepted << " accepted, "
        << (s.rejected_locally + s.rejected_by_server) << " rejected (" << s.rejected_locally
        << " by the local checks, " << s.rejected_by_server << " by the server), " << unchanged
        << ", " << s.skipped << " skipped\n";
  }
  if (s.differ_in_books > 0) {
    out << "          " << s.differ_in_books
        << " held otherwise in the books: left alone (--overwrite sends the source's version)\n";
  }
  if (s.missing_in_books > 0) {
    out << "          " << s.missing_in_books
        << " the journal had as accepted were missing from the books: "
        << (s.dry_run ? "to send again\n" : "sent again\n");
  }
  if (!s.dry_run) {
    out << "Requests: " << s.requests << (s.requests == 1 ? " import request" : " import requests")
        << " sent (" << s.split_requests << " of them to find the rejected rows of a batch)\n";
  }
  out << "Time:     " << Duration(s.time.count()) << '\n';
  if (s.interrupted) {
    out << "Interrupted: what was acknowledged is in the journal; run it again to go on.\n";
  }
}

ProgressPrinter::ProgressPrinter(std::ostream& out, bool terminal)
    : out_(out), terminal_(terminal) {}

void ProgressPrinter::Show(const SyncProgress& progress) {
  if (progress.waiting.count() > 0) {
    ShowWait(progress);
    return;
  }
  wait_told_ = 0;
  const Clock::time_point now = Clock::now();
  const bool new_phase = !started_ || progress.phase != phase_;
  if (new_phase) {
    if (started_ && terminal_) {
      out_ << '\n';
      line_width_ = 0;
    }
    started_ = true;
    phase_ = progress.phase;
    phase_start_ = now;
    last_done_ = -1;
  }
  const bool end = progress.done >= progress.total;
  if (terminal_) {
    if (!new_phase && !end && now - last_shown_ < std::chrono::milliseconds(100)) {
      return;
    }
  } else {
    const long step = std::max(1L, progress.total / 10);
    const bool due = new_phase || (end && progress.done != last_done_) ||
                     progress.done - last_done_ >= step ||
                     now - last_shown_ >= std::chrono::seconds(5);
    if (!due) {
      return;
    }
  }
  last_shown_ = now;
  last_done_ = progress.done;
  Emit(Line(progress, now));
}

std::string ProgressPrinter::Line(const SyncProgress& progress, Clock::time_point now) const {
  const double seconds = std::chrono::duration<double>(now - phase_start_).count();
  std::string line = std::string(PhaseName(progress.phase)) + ": " + std::to_string(progress.done) +
                     " of " + std::to_string(progress.total);
  const bool end = progress.done >= progress.total;
  if (seconds > 0.2 && progress.done > 0) {
    const double rate = progress.done / seconds;
    char text[64];
    std::snprintf(text, sizeof text, ", %.0f/s", rate);
    line += text;
    if (!end && rate > 0) {
      line += ", " + Duration((progress.total - progress.done) / rate) + " left";
    }
  }
  return line;
}

void ProgressPrinter::ShowWait(const SyncProgress& progress) {
  const double waited = progress.waiting.count();
  if (waited < wait_told_) {
    wait_told_ = 0;  // a new request (a retry) is in hand
  }
  if (waited < 1) {
    return;
  }
  const Clock::time_point now = Clock::now();
  if (terminal_ ? now - last_shown_ < std::chrono::milliseconds(100)
                : wait_told_ > 0 && waited - wait_told_ < 5) {
    return;
  }
  wait_told_ = waited;
  last_shown_ = now;
  const char* noun = progress.phase == SyncPhase::kMasters    ? " master"
                     : progress.phase == SyncPhase::kVouchers ? " voucher"
                                                              : " object";
  Emit(Line(progress, now) + ", waiting " + std::to_string(std::lround(std::floor(waited))) +
       " s for the server's reply" +
       (progress.batch > 0
            ? " to " + std::to_string(progress.batch) + noun + (progress.batch == 1 ? "" : "s")
            : std::string()));
}

void ProgressPrinter::Emit(std::string line) {
  if (terminal_) {
    const std::size_t width = line.size();
    if (width < line_width_) {
      line.append(line_width_ - width, ' ');
    }
    line_width_ = width;
    out_ << '\r' << line << std::flush;
  } else {
    out_ << line << '\n' << std::flush;
  }
}

void ProgressPrinter::Finish() {
  if (terminal_ && started_) {
    out_ << '\n' << std::flush;
  }
  started_ = false;
}

RunOutcome SyncSummary::outcome() const {
  if (interrupted) {
    return RunOutcome::kInterrupted;
  }
  if (stopped) {
    return RunOutcome::kStopped;
  }
  const long failed = rejected_locally + rejected_by_server + differ_in_books + units.failed +
                      ledgers.failed + items.failed;
  return failed > 0 ? RunOutcome::kIncomplete : RunOutcome::kComplete;
}

}  // namespace lirvo::sync
