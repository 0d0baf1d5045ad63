// lirvo-bench: runs the benchmarks, then prints each budgeted figure next to its budget.
//
// Without options it repeats every benchmark five times in random interleaving, so that a burst
// of load on a shared machine spreads over both sides of a ratio; any --benchmark_* option given
// replaces these defaults.
#include <malloc.h>

#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "database.h"
#include "source_bench.h"
#include "split.h"
#include "summary.h"

int main(int argc, char** argv) {
  // The measurements that run in a fresh process of their own (see database.h and split.h).
  if (argc > 1 && std::strcmp(argv[1], "--transfer-split") == 0) {
    return lirvo::bench::TransferSplitCommand(argc, argv);
  }
  if (argc > 1 && std::strcmp(argv[1], "--make-source") == 0) {
    return lirvo::bench::MakeSourceCommand(argc, argv);
  }
  if (argc > 1 && std::strcmp(argv[1], "--database-pass") == 0) {
    return lirvo::bench::DatabasePassCommand(argc, argv);
  }
  // Keep freed memory in the process instead of handing it back to the system. Otherwise whether
  // an iteration's buffers land on pages already touched or on fresh ones depends on what ran
  // before it, and on a virtual machine a fresh page costs a fault of several microseconds: the
  // figures would measure the allocator's history rather than the work. Children started by the
  // benchmarks run with the ordinary settings.
  if (std::getenv("LIRVO_BENCH_COLD_MEMORY") == nullptr) {
    mallopt(M_MMAP_MAX, 0);
    mallopt(M_TRIM_THRESHOLD, -1);
  }
  std::vector<char*> arguments(argv, argv + argc);
  std::string repetitions = "--benchmark_repetitions=5";
  std::string interleaving = "--benchmark_enable_random_interleaving=true";
  const auto given = [&](const char* option) {
    for (int i = 1; i < argc; ++i) {
      if (std::strncmp(argv[i], option, std::strlen(option)) == 0) {
        return true;
      }
    }
    return false;
  };
  if (!given("--benchmark_repetitions")) {
    arguments.push_back(repetitions.data());
  }
  if (!given("--benchmark_enable_random_interleaving")) {
    arguments.push_back(interleaving.data());
  }
  int count = static_cast<int>(arguments.size());
  benchmark::Initialize(&count, arguments.data());
  if (benchmark::ReportUnrecognizedArguments(count, arguments.data())) {
    return 2;
  }
  lirvo::bench::CollectingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::cout << "\nCores: " << std::thread::hardware_concurrency() << '\n';
  lirvo::bench::PrintSummary(std::cout, reporter.Collected());
  benchmark::Shutdown();
  return 0;
}
