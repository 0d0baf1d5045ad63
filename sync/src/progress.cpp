// What the sync shows people as it goes: the progress line on stderr.
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

}  // namespace

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

}  // namespace lirvo::sync
