// lirvo verify of sales-20k.mdb after a sync: the whole process against mdb-export of the same
// table, and its peak memory.
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include <benchmark/benchmark.h>

#include <lirvo/feed_run.h>
#include <lirvo/source.h>

#include "processes.h"

namespace lirvo::bench {

namespace {

namespace fs = std::filesystem;

constexpr const char* kSales20k = LIRVO_BENCH_DATA_DIR "/sales-20k.mdb";

// Benchmark 11: sales-20k synced (in this process, untimed) into a fresh stand-in, then `lirvo
// verify` as a process under lirvo-bench-peak and mdb-export of the table (three times, the
// median), in alternating order.
void B11_VerifySales20k(benchmark::State& state) {
  static int turn = 0;
  try {
    Standin server;
    const fs::path journal =
        fs::temp_directory_path() / ("lirvo-bench-verify-" + std::to_string(getpid()) + ".sqlite");
    feed::RunOptions sync;
    sync.server.url = server.url();
    sync.company = "Demo Trading Co";
    sync.journal = journal;
    for (const source::Kind& kind : source::Kinds()) {
      sync.kinds.push_back(&kind);
    }
    const feed::RunSummary synced =
        feed::Run(source::Open({source::Scheme::kAccess, kSales20k}), sync);
    for (const char* suffix : {"", "-wal", "-shm"}) {
      std::error_code ignored;
      fs::remove(journal.string() + suffix, ignored);
    }
    constexpr auto kSales = static_cast<std::size_t>(books::DocumentType::kSales);
    if (synced.outcome() != lirvo::RunOutcome::kComplete || !synced.documents ||
        synced.documents->types[kSales].sent != 20000) {
      throw std::runtime_error("the sync of sales-20k before verify did not go through");
    }
    for (auto _ : state) {
      double ours = 0;
      double baseline = 0;
      long peak_kib = 0;
      const auto verify = [&] {
        SpawnOptions options;
        options.environment = {{"LIRVO_TALLY_URL", server.url()}};
        options.capture_output = true;
        options.quiet_errors = true;
        options.deadline = std::chrono::seconds(330);
        const Finished finished =
            Run({LIRVO_PEAK_PATH, "300", LIRVO_CLI_PATH, "verify", "--db", kSales20k}, options);
        int exit_code = -1;
        int signal = 0;
        const std::size_t at = finished.output.rfind("exit=");
        if (!finished.ok() || at == std::string::npos ||
            std::sscanf(finished.output.c_str() + at, "exit=%d signal=%d peak_kib=%ld", &exit_code,
                        &signal, &peak_kib) != 3 ||
            exit_code != 0 || finished.output.find("20000 match") == std::string::npos) {
          throw std::runtime_error("lirvo verify of sales-20k did not find all 20,000 matching");
        }
        ours = finished.wall_seconds;
      };
      const auto export_table = [&] { baseline = MdbExportSeconds(kSales20k, "SalesMst"); };
      if (turn++ % 2 == 0) {
        verify();
        export_table();
      } else {
        export_table();
        verify();
      }
      state.SetIterationTime(ours);
      state.counters["ours_s"] = ours;
      state.counters["wall_s"] = ours;
      state.counters["baseline_s"] = baseline;
      state.counters["ratio"] = ours / baseline;
      state.counters["peak_MiB"] = static_cast<double>(peak_kib) / 1024.0;
    }
  } catch (const std::exception& error) {
    state.SkipWithError(error.what());
  }
}
BENCHMARK(B11_VerifySales20k)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

}  // namespace lirvo::bench
