// Paired measurement: the code measured and its baseline run in turns, a batch of calls each, so
// that both meet the same load on a shared machine; the figure is the median of the ratios of
// neighbouring batches.
#pragma once

#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <algorithm>
#include <ctime>
#include <exception>
#include <vector>

namespace lirvo::bench {

// Medians per call, in seconds of this thread's CPU time, and the median of the paired ratios.
struct PairedFigures {
  double ours = 0;
  double baseline = 0;
  double ratio = 0;
  long page_faults = 0;  // minor page faults during the timed calls, both sides
};

inline double ThreadCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Minor page faults of this process so far: on a virtual machine each can cost more than a page's
// worth of work, so the figures show how many the timed calls met.
inline long PageFaults() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_minflt;
}

inline double MedianOf(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
}

// Calls each side once untimed, then `pairs` times `batch` calls of one side and `batch` of the
// other, alternating which goes first. `prepare`, when given, runs untimed before each batch of
// `ours` (for work that changes its input).
template <class Ours, class Baseline, class Prepare = void (*)()>
PairedFigures MeasurePaired(
    Ours&& ours, Baseline&& baseline, int batch, int pairs, Prepare&& prepare = [] {}) {
  prepare();
  ours();
  baseline();
  std::vector<double> ours_seconds;
  std::vector<double> baseline_seconds;
  std::vector<double> ratios;
  long faults = 0;
  const auto timed = [&](auto& work) {
    const long faults_before = PageFaults();
    const double start = ThreadCpuSeconds();
    for (int i = 0; i < batch; ++i) {
      work();
    }
    const double seconds = (ThreadCpuSeconds() - start) / batch;
    faults += PageFaults() - faults_before;
    return seconds;
  };
  for (int pair = 0; pair < pairs; ++pair) {
    double first = 0;
    double second = 0;
    if (pair % 2 == 0) {
      prepare();
      first = timed(ours);
      second = timed(baseline);
    } else {
      second = timed(baseline);
      prepare();
      first = timed(ours);
    }
    ours_seconds.push_back(first);
    baseline_seconds.push_back(second);
    ratios.push_back(second > 0 ? first / second : 0);
  }
  return {MedianOf(ours_seconds), MedianOf(baseline_seconds), MedianOf(ratios), faults / pairs};
}

// Reports the figures of one iteration: its time is ours per call; the counters carry both sides,
// the ratio and the page faults.
inline void Report(benchmark::State& state, const PairedFigures& figures) {
  state.SetIterationTime(figures.ours);
  state.counters["ours_s"] = figures.ours;
  state.counters["baseline_s"] = figures.baseline;
  state.counters["ratio"] = figures.ratio;
  state.counters["page_faults"] = static_cast<double>(figures.page_faults);
}

// Runs a benchmark's `body`; an exception it throws (a child that failed, a file that cannot be
// written) marks the benchmark skipped with its message instead of ending lirvo-bench.
template <class Body>
void Guarded(benchmark::State& state, Body body) {
  try {
    body();
  } catch (const std::exception& failure) {
    state.SkipWithError(failure.what());
  }
}

}  // namespace lirvo::bench
