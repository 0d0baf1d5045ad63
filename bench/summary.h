// The figures lirvo-bench promises: which benchmark is set against which, the budget of each, and a
// reporter that keeps every run so that the ratios can be printed after the benchmarks.
#pragma once

#include <map>
#include <ostream>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

namespace lirvo::bench {

// The runs of one benchmark (repetitions), reduced to medians.
struct Figures {
  int runs = 0;
  double cpu_seconds = 0;                  // median CPU time per iteration
  double real_seconds = 0;                 // median wall time per iteration
  std::map<std::string, double> counters;  // median of each counter
  std::string error;                       // set when a run failed
};

// Passes everything on to the console and keeps each benchmark's iteration runs.
class CollectingReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override;
  // Medians per benchmark function name (without /iterations:, /repeats: and the like).
  std::map<std::string, Figures> Collected() const;

 private:
  std::map<std::string, std::vector<Run>> runs_;
  std::map<std::string, Run> medians_;
};

// Prints the table of budgets and the unbudgeted figures.
void PrintSummary(std::ostream& out, const std::map<std::string, Figures>& figures);

}  // namespace lirvo::bench
